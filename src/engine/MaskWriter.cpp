#include "MaskWriter.h"

#include "PictureChecks.h"

#include "PictureIO.h"
#include "PngDecode.h"
#include "RunError.h"

#include <QtEndian>

#include <png.h>

#include <climits>
#include <csetjmp>
#include <optional>
#include <vector>

namespace
{

// One 1-bit row: bit set (palette entry 1, the transparency colour) for every pixel that is
// not the mask colour, most significant bit first, as both BMP and PNG pack them.
void packRow(const QRgb *in, int w, QRgb mask, uchar *out)
{
    for (int x = 0; x < w; x += 8) {
        uchar byte = 0;
        for (int b = 0; b < 8 && x + b < w; ++b)
            byte |= uchar(((in[x + b] | 0xFF000000u) != mask) << (7 - b));
        out[x / 8] = byte;
    }
}

void writeBmp1(const QImage &image, const QString &path, QRgb mask, QRgb transparent,
               Existing existing)
{
    const qint64 w = image.width(), h = image.height();
    const qint64 rowBytes = ((w + 31) / 32) * 4;
    const qint64 offset = 14 + 40 + 8;
    const qint64 size = offset + rowBytes * h;
    if (size > INT_MAX)
        throw RunError::of(RunError::OutOfMemory, path);
    char header[offset];
    bmpHeader(w, h, 1, 2, header);
    const auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, header + at); };
    put32(54, mask & 0xFFFFFF); // B, G, R, 0 in the file's byte order
    put32(58, transparent & 0xFFFFFF);

    WholeFileWriter out(path, existing);
    out.write(header, sizeof header);
    QByteArray row(qsizetype(rowBytes), '\0');
    for (qint64 y = h - 1; y >= 0; --y) {
        packRow(reinterpret_cast<const QRgb *>(image.constScanLine(int(y))), int(w), mask,
                reinterpret_cast<uchar *>(row.data()));
        out.write(row.constData(), row.size());
    }
    out.commit();
}

// Everything the PNG write changes lives here, reached through a pointer libpng holds, so
// nothing is lost to the longjmp that libpng's errors end in. A failed write of the file
// is kept and raised again once libpng has been left.
struct Sink {
    WholeFileWriter &out;
    std::optional<RunError> failure;
    QString complaint;
    std::vector<uchar> row;
};

void pngWrite(png_structp png, png_bytep data, png_size_t size)
{
    auto *sink = static_cast<Sink *>(png_get_io_ptr(png));
    try {
        sink->out.write(reinterpret_cast<const char *>(data), qsizetype(size));
    } catch (const RunError &e) {
        sink->failure = e;
        png_error(png, "write failed");
    }
}

void pngFlush(png_structp) {}

void writePng(const QImage &image, const QString &path, int depth, QRgb mask, QRgb transparent,
              Existing existing)
{
    WholeFileWriter out(path, existing);
    Sink sink{out, {}, {}, {}};
    const int w = image.width(), h = image.height();
    sink.row.resize(depth == 1 ? size_t(w + 7) / 8 : size_t(w) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink.complaint,
                                              keepPngComplaint, ignorePngWarning);
    if (!png)
        throw RunError::of(RunError::OutOfMemory, path);
    png_infop info = png_create_info_struct(png);
    volatile bool ok = false;
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(png, &sink, pngWrite, pngFlush);
        png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth == 1 ? 1 : 8,
                     depth == 1 ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (depth == 1) {
            png_color palette[2] = {
                {png_byte(qRed(mask)), png_byte(qGreen(mask)), png_byte(qBlue(mask))},
                {png_byte(qRed(transparent)), png_byte(qGreen(transparent)),
                 png_byte(qBlue(transparent))}};
            png_set_PLTE(png, info, palette, 2);
            png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        }
        png_write_info(png, info);
        for (int y = 0; y < h; ++y) {
            const QRgb *in = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            uchar *row = sink.row.data();
            if (depth == 1) {
                packRow(in, w, mask, row);
            } else {
                for (int x = 0; x < w; ++x) {
                    row[3 * x] = uchar(qRed(in[x]));
                    row[3 * x + 1] = uchar(qGreen(in[x]));
                    row[3 * x + 2] = uchar(qBlue(in[x]));
                }
            }
            png_write_row(png, row);
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    if (sink.failure)
        throw *sink.failure;
    if (!ok)
        throw RunError::of(RunError::OutOfMemory,
                           path + QStringLiteral(" (") + sink.complaint + ')');
    out.commit();
}

} // namespace

void writeMask(const QImage &picture, const QString &path, MaskOutput kind, QRgb mask,
               QRgb transparent, Existing existing)
{
    const QImage image = picture.format() == QImage::Format_RGB32
                             ? picture
                             : picture.convertToFormat(QImage::Format_RGB32);
    mask |= 0xFF000000u;
    transparent |= 0xFF000000u;
    if (kind.format == MaskFormat::Png)
        writePng(image, path, kind.depth, mask, transparent, existing);
    else if (kind.depth == 1)
        writeBmp1(image, path, mask, transparent, existing);
    else
        writeBmp(image, path, existing);
}
