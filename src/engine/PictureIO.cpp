#include "PictureIO.h"

#include "FileOps.h"
#include "PictureChecks.h"
#include "PixelRows.h"
#include "PngDecode.h"
#include "RunError.h"

#include <QBuffer>
#include <QImageReader>
#include <QMutex>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace
{

// Qt's readers fill in what a damaged file lacks and say so only in a warning, or not at
// all. A warning while a picture is read marks the file as damaged, and its text goes into
// that file's message instead of onto the terminal, where with several files read at once
// nobody could tell which file it was about.
thread_local bool t_reading = false;
thread_local QString t_warning;
QtMessageHandler g_previous = nullptr;

void watchWarnings(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (t_reading) {
        if (type != QtDebugMsg && type != QtInfoMsg && t_warning.isEmpty())
            t_warning = msg.trimmed();
        return;
    }
    if (g_previous)
        g_previous(type, context, msg);
}

struct WarningWatch {
    WarningWatch()
    {
        static QMutex mutex;
        QMutexLocker lock(&mutex);
        static bool installed = false;
        if (!installed) {
            g_previous = qInstallMessageHandler(watchWarnings);
            installed = true;
        }
        t_reading = true;
        t_warning.clear();
    }
    ~WarningWatch() { t_reading = false; }
};

// The most pixels a file of compressed data can honestly describe per byte: a deflate
// stream of a 1-bit PNG packs about 8,300, LZW in a GIF about 2,700, JPEG far fewer. A
// file declaring more is refused before the picture is allocated.
constexpr qint64 MaxPixelsPerByte = 16384;

// The largest file read whole: a 16384 x 16384 sheet at 32 bits with room for headers.
constexpr qint64 MaxFileBytes = MaxPicturePixels * 4 + (1 << 20);

// The common sprite file, a plain 24-bit BMP, read directly: several times faster than
// the general reader, with the same pixels.
QImage readPlainBmp(const Bytes &b, const BmpLayout &bmp, QImage *reuse)
{
    // A sheet after a sheet of the same size is decoded into the same memory: a fresh
    // image of that size costs a page fault every 4 KiB, more than decoding it.
    const QSize size(int(bmp.width), int(bmp.rows()));
    QImage image = reuse && reuse->size() == size && reuse->format() == QImage::Format_RGB32
                       ? std::move(*reuse)
                       : QImage(size, QImage::Format_RGB32);
    if (image.isNull())
        throw RunError::of(RunError::OutOfMemory);
    const qint64 w = bmp.width, h = bmp.rows(), rowBytes = bmp.rowBytes();
    for (qint64 y = 0; y < h; ++y) {
        const uchar *row = b.at(bmp.offset + (bmp.height > 0 ? h - 1 - y : y) * rowBytes);
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        unpackRow24(row, out, w);
    }
    return image;
}

} // namespace

QImage decodePicture(const QByteArray &data, const QString &path, PictureAlpha alpha, QImage *reuse)
{
    const bool keepAlpha = alpha == PictureAlpha::Keep;
    WarningWatch watch;
    const Bytes b(data);
    const bool isBmp = data.startsWith("BM");
    if (isBmp) {
        const BmpLayout bmp = checkBmp(b, b.size(), path);
        if (bmp.bpp == 24 && bmp.compression == BiRgb)
            return readPlainBmp(b, bmp, reuse); // opaque: the same pixels with or without alpha
    } else if (data.startsWith("GIF8")) {
        checkGif(b, path);
    } else if (data.startsWith("\x89PNG\r\n\x1a\n")) {
        return decodePng(data, path, std::min(MaxPicturePixels, MaxPixelsPerByte * data.size()),
                         keepAlpha);
    }

    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" is not a picture"));
    // A BMP's size was checked above; Qt gives a top-down one a negative height.
    if (const QSize size = reader.size(); !isBmp && size != QSize()) {
        if (size.width() <= 0 || size.height() <= 0)
            throw invalidSize(path, size.width(), size.height());
        const qint64 pixels = qint64(size.width()) * size.height();
        checkPixelCount(path, size.width(), size.height());
        if (pixels > MaxPixelsPerByte * data.size())
            throw damaged(path,
                          QStringLiteral("declares %1 x %2 pixels, more than its %3 bytes can hold")
                              .arg(size.width())
                              .arg(size.height())
                              .arg(data.size()));
    }
    // Qt refuses images above 256 MB by default; a 16384 x 16384 sheet needs 1 GB.
    QImageReader::setAllocationLimit(1100);
    QImage image = reader.read();
    if (!t_warning.isEmpty())
        throw damaged(path, QStringLiteral("is damaged (") + t_warning + ')');
    if (image.isNull())
        throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" could not be read (") +
                                                         reader.errorString() + ')');
    return image.convertToFormat(keepAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

QImage readPicture(const QString &path, PictureAlpha alpha, QImage *reuse)
{
    InputFile in(path);
    if (in.size() > MaxFileBytes)
        throw RunError::of(RunError::OutOfMemory, path + QStringLiteral(" is too large"));
    // The bytes go into memory kept for the thread's next file, as long as it is not
    // huge: fresh memory for every sheet costs a page fault every 4 KiB.
    constexpr qint64 KeepUpTo = 256 << 20;
    thread_local QByteArray kept;
    QByteArray once;
    QByteArray &buffer = in.size() <= KeepUpTo ? kept : once;
    if (buffer.size() < in.size())
        buffer.resize(qsizetype(in.size()));
    in.readAt(0, buffer.data(), in.size());
    in.checkUnchanged();
    return decodePicture(QByteArray::fromRawData(buffer.constData(), qsizetype(in.size())), path,
                         alpha, reuse);
}

QString pictureFilePattern()
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    return patterns.join(QLatin1Char(';'));
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
