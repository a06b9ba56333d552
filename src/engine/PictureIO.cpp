#include "PictureIO.h"

#include "FileOps.h"
#include "PictureChecks.h"
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

namespace {

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
QImage readPlainBmp(const Bytes &b, const BmpLayout &bmp)
{
    QImage image(int(bmp.width), int(bmp.rows()), QImage::Format_RGB32);
    if (image.isNull())
        throw RunError::of(RunError::OutOfMemory);
    const qint64 w = bmp.width, h = bmp.rows(), rowBytes = bmp.rowBytes();
    for (qint64 y = 0; y < h; ++y) {
        const uchar *row = b.at(bmp.offset + (bmp.height > 0 ? h - 1 - y : y) * rowBytes);
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        // Four pixels from three 32-bit words at a time; the rest byte by byte.
        qint64 x = 0;
        for (; x + 4 <= w; x += 4) {
            quint32 word[3];
            std::memcpy(word, row + 3 * x, 12);
            const quint32 a = qFromLittleEndian(word[0]), b1 = qFromLittleEndian(word[1]),
                          c = qFromLittleEndian(word[2]);
            out[x] = 0xFF000000u | a;
            out[x + 1] = 0xFF000000u | (a >> 24) | (b1 << 8);
            out[x + 2] = 0xFF000000u | (b1 >> 16) | (c << 16);
            out[x + 3] = 0xFF000000u | (c >> 8);
        }
        for (; x < w; ++x)
            out[x] = 0xFF000000u | (uint(row[3 * x + 2]) << 16) | (uint(row[3 * x + 1]) << 8) |
                     row[3 * x];
    }
    return image;
}

} // namespace

QImage decodePicture(const QByteArray &data, const QString &path, PictureAlpha alpha)
{
    const bool keepAlpha = alpha == PictureAlpha::Keep;
    WarningWatch watch;
    const Bytes b(data);
    const bool isBmp = data.startsWith("BM");
    if (isBmp) {
        const BmpLayout bmp = checkBmp(b, b.size(), path);
        if (bmp.bpp == 24 && bmp.compression == BiRgb)
            return readPlainBmp(b, bmp); // opaque: the same pixels with or without alpha
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
            throw damaged(path, QStringLiteral("declares %1 x %2 pixels, more than its %3 bytes can hold")
                                    .arg(size.width()).arg(size.height()).arg(data.size()));
    }
    // Qt refuses images above 256 MB by default; a 16384 x 16384 sheet needs 1 GB.
    QImageReader::setAllocationLimit(1100);
    QImage image = reader.read();
    if (!t_warning.isEmpty())
        throw damaged(path, QStringLiteral("is damaged (") + t_warning + ')');
    if (image.isNull())
        throw RunError::of(RunError::InvalidPicture,
                           path + QStringLiteral(" could not be read (") + reader.errorString() + ')');
    return image.convertToFormat(keepAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

QImage readPicture(const QString &path, PictureAlpha alpha)
{
    return decodePicture(readFileWhole(path, MaxFileBytes), path, alpha);
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
    bmpHeader24(w, h, header);
    WholeFileWriter out(path, existing);
    out.write(header, sizeof header);
    // Rows go out in chunks that stay in the processor's cache on their way to the kernel.
    const qint64 rowsPerChunk = std::max<qint64>(1, (256 * 1024) / std::max<qint64>(1, rowBytes));
    QByteArray chunk(qsizetype(rowsPerChunk * rowBytes), '\0');
    for (qint64 y0 = 0; y0 < h; y0 += rowsPerChunk) {
        const qint64 rows = std::min(rowsPerChunk, h - y0);
        for (qint64 r = 0; r < rows; ++r) {
            const QRgb *in = reinterpret_cast<const QRgb *>(image.constScanLine(int(h - 1 - (y0 + r))));
            uchar *row = reinterpret_cast<uchar *>(chunk.data() + r * rowBytes);
            qint64 x = 0;
            for (; x + 4 <= w; x += 4) { // four pixels into three 32-bit words
                const quint32 p0 = in[x] & 0xFFFFFF, p1 = in[x + 1] & 0xFFFFFF,
                              p2 = in[x + 2] & 0xFFFFFF, p3 = in[x + 3] & 0xFFFFFF;
                const quint32 word[3] = {qToLittleEndian(p0 | (p1 << 24)),
                                         qToLittleEndian((p1 >> 8) | (p2 << 16)),
                                         qToLittleEndian((p2 >> 16) | (p3 << 8))};
                std::memcpy(row + 3 * x, word, 12);
            }
            for (; x < w; ++x) {
                row[3 * x] = uchar(qBlue(in[x]));
                row[3 * x + 1] = uchar(qGreen(in[x]));
                row[3 * x + 2] = uchar(qRed(in[x]));
            }
        }
        out.write(chunk.constData(), qsizetype(rows * rowBytes));
    }
    out.commit();
}
