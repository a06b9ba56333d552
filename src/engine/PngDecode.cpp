#include "PngDecode.h"

#include "RunError.h"

#include <csetjmp>
#include <cstring>
#include <vector>

namespace
{

// Everything the decode changes lives here, reached through a pointer libpng holds, so
// nothing is lost to the longjmp that libpng's errors end in.
struct Source {
    const QByteArray &data;
    qsizetype at = 0;
    QString complaint;
    QImage image;
    std::vector<png_bytep> rows;
    QString refusal;
    RunError::Number number = RunError::DamagedPicture;
};

void readBytes(png_structp png, png_bytep out, png_size_t size)
{
    auto *source = static_cast<Source *>(png_get_io_ptr(png));
    if (qsizetype(size) > source->data.size() - source->at)
        png_error(png, "cut short");
    std::memcpy(out, source->data.constData() + source->at, size);
    source->at += qsizetype(size);
}

} // namespace

QImage decodePng(const QByteArray &data, const QString &path, qint64 maxPixels, bool keepAlpha)
{
    Source source{data};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source.complaint,
                                             keepPngComplaint, ignorePngWarning);
    if (!png)
        throw RunError::of(RunError::OutOfMemory, path);
    png_infop info = png_create_info_struct(png);
    Source &s = source;
    if (setjmp(png_jmpbuf(png)) == 0 && info) {
        png_set_read_fn(png, &source, readBytes);
        png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
        png_read_info(png, info);
        const qint64 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        if (w * h > maxPixels) {
            s.refusal =
                QStringLiteral(
                    "%1 declares %2 x %3 pixels, more than it can hold or the program takes")
                    .arg(path)
                    .arg(w)
                    .arg(h);
            s.number = RunError::OutOfMemory;
        } else {
            png_set_expand(png);
            png_set_scale_16(png);
            png_set_gray_to_rgb(png);
            if (!keepAlpha)
                png_set_strip_alpha(png);
            png_set_bgr(png);
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER); // only where there is no alpha
            png_set_interlace_handling(png);
            png_read_update_info(png, info);
            s.image =
                QImage(int(w), int(h), keepAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
            if (s.image.isNull()) {
                s.refusal = path;
                s.number = RunError::OutOfMemory;
            } else {
                s.rows.resize(size_t(h));
                for (qint64 y = 0; y < h; ++y)
                    s.rows[size_t(y)] = s.image.scanLine(int(y));
                png_read_image(png, s.rows.data());
                png_read_end(png, nullptr);
            }
        }
    } else {
        s.refusal = path + QStringLiteral(" is damaged (") + s.complaint + ')';
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (!source.refusal.isEmpty())
        throw RunError::of(source.number, source.refusal);
    return std::move(source.image);
}

void keepPngComplaint(png_structp png, png_const_charp message)
{
    auto *complaint = static_cast<QString *>(png_get_error_ptr(png));
    if (complaint->isEmpty())
        *complaint = QString::fromLatin1(message);
    png_longjmp(png, 1);
}

void ignorePngWarning(png_structp, png_const_charp) {}
