#include "PictureIO.h"

#include "FileOps.h"
#include "PictureChecks.h"
#include "PixelRows.h"
#include "RunError.h"

#include "PictureSource.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace
{

QImage readWhole(InputFile &in, const QString &path, PictureAlpha alpha, QImage *reuse)
{
    const std::unique_ptr<PictureSource> source = openPicture(in, path);
    const bool keepAlpha = alpha == PictureAlpha::Keep;
    const QImage::Format format = keepAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const RowLayout layout = keepAlpha ? RowLayout::Bgra32 : RowLayout::Bgrx32;
    const int w = source->width(), h = source->height();
    source->start(layout, true);
    // A sheet after a sheet of the same size is decoded into the same memory: a fresh
    // image of that size costs a page fault every 4 KiB, more than decoding it. It is taken
    // over only now that the headers are known good, and given back should the pixels fail.
    QImage image = reuse && reuse->size() == QSize(w, h) && reuse->format() == format
                       ? std::move(*reuse)
                       : QImage(w, h, format);
    if (image.isNull())
        throw RunError::of(RunError::OutOfMemory, path);
    try {
        const qsizetype bpl = image.bytesPerLine();
        std::vector<uchar> scattered;
        for (Band band; (band = source->nextBand(h)).rows > 0;) {
            if (band.wholeRows(w)) {
                source->readBand(image.scanLine(band.y0), band.dy * bpl);
                continue;
            }
            // Rows of an interlaced pass: read together, then put pixel by pixel.
            const qsizetype rowBytes = qsizetype(band.pixels) * 4;
            scattered.resize(size_t(rowBytes * band.rows));
            source->readBand(scattered.data(), rowBytes);
            for (int r = 0; r < band.rows; ++r) {
                const QRgb *from = reinterpret_cast<const QRgb *>(scattered.data() + r * rowBytes);
                QRgb *to = reinterpret_cast<QRgb *>(image.scanLine(band.y0 + r * band.dy));
                for (int i = 0; i < band.pixels; ++i)
                    to[band.x0 + i * band.dx] = from[i];
            }
        }
        source->finish();
    } catch (...) {
        if (reuse && reuse->isNull())
            *reuse = std::move(image);
        throw;
    }
    return image;
}

} // namespace

QImage decodePicture(const QByteArray &data, const QString &path, PictureAlpha alpha, QImage *reuse)
{
    InputFile in(data, path);
    return readWhole(in, path, alpha, reuse);
}

QImage readPicture(const QString &path, PictureAlpha alpha, QImage *reuse)
{
    InputFile in(path);
    return readWhole(in, path, alpha, reuse);
}

QString pictureFilePattern()
{
    return QStringLiteral("*.bmp;*.dib;*.gif;*.jpeg;*.jpg;*.jpe;*.png;*.tga");
}

void writeBmp(const QImage &picture, const QString &path, Existing existing)
{
    // 24-bit, bottom-up, with a fixed resolution of 96 dots per inch: the same picture always
    // gives the same bytes, from the window or the command line.
    const QImage image = picture.format() == QImage::Format_RGB32
                             ? picture
                             : picture.convertToFormat(QImage::Format_RGB32);
    const qint64 w = image.width(), h = image.height();
    const qint64 rowBytes = (w * 3 + 3) & ~qint64(3);
    const qint64 size = 54 + rowBytes * h;
    if (size > INT_MAX)
        throw RunError::of(RunError::OutOfMemory, path);
    char header[54];
    bmpHeader(w, h, 24, 0, header);
    WholeFileWriter out(path, existing);
    out.write(header, sizeof header);
    // Rows go out in chunks that stay in the processor's cache on their way to the kernel.
    const qint64 rowsPerChunk = std::max<qint64>(1, (256 * 1024) / std::max<qint64>(1, rowBytes));
    QByteArray chunk(qsizetype(rowsPerChunk * rowBytes), '\0');
    for (qint64 y0 = 0; y0 < h; y0 += rowsPerChunk) {
        const qint64 rows = std::min(rowsPerChunk, h - y0);
        for (qint64 r = 0; r < rows; ++r) {
            const QRgb *in =
                reinterpret_cast<const QRgb *>(image.constScanLine(int(h - 1 - (y0 + r))));
            uchar *row = reinterpret_cast<uchar *>(chunk.data() + r * rowBytes);
            packRow24(in, row, w);
        }
        out.write(chunk.constData(), qsizetype(rows * rowBytes));
    }
    out.commit();
}
