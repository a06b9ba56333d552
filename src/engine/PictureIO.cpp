#include "PictureIO.h"

#include "FileOps.h"
#include "RunError.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutex>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Qt's readers fill in what a cut-short file lacks and say so only in a warning (JPEG), or
// not at all (BMP). A warning during a read is taken as a damaged file.
thread_local bool t_reading = false;
thread_local bool t_warned = false;
QtMessageHandler g_previous = nullptr;

void watchWarnings(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (t_reading && type != QtDebugMsg && type != QtInfoMsg) {
        t_warned = true;
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
        t_warned = false;
    }
    ~WarningWatch() { t_reading = false; }
};

// An uncompressed BMP must hold all the rows its header promises.
bool bmpIsComplete(const QByteArray &data)
{
    if (data.size() < 54 || !data.startsWith("BM"))
        return true; // not a BMP this check knows; the reader decides
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(data.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(data.constData() + at); };
    const quint32 offset = u32(10);
    const quint32 headerSize = u32(14);
    if (headerSize < 40)
        return true; // the old core header: rare, left to the reader
    const qint64 width = qint32(u32(18));
    const qint64 height = qint32(u32(22));
    const int bpp = u16(28);
    const quint32 compression = u32(30);
    if (compression != 0 && compression != 3)
        return true; // run-length data has no fixed size
    const qint64 rowBytes = ((width * bpp + 31) / 32) * 4;
    const qint64 needed = qint64(offset) + rowBytes * (height < 0 ? -height : height);
    return width > 0 && data.size() >= needed;
}

// The size a BMP header declares. Qt's reader gives no size for sides over 16384, so a too
// large sheet is recognised here, before anything is decoded.
QSize bmpDeclaredSize(const QByteArray &data)
{
    if (data.size() < 26 || !data.startsWith("BM"))
        return {};
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(data.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(data.constData() + at); };
    if (u32(14) == 12)
        return QSize(u16(18), u16(20));
    const qint64 w = qint32(u32(18)), h = qint32(u32(22));
    return QSize(int(std::min<qint64>(std::abs(w), INT_MAX)), int(std::min<qint64>(std::abs(h), INT_MAX)));
}

// A GIF's first image must end in its closing block: Qt shows a cut-short GIF as a
// partly black picture and says nothing.
bool gifIsComplete(const QByteArray &data)
{
    if (!data.startsWith("GIF8"))
        return true;
    const qsizetype n = data.size();
    const auto byte = [&](qsizetype at) { return quint8(data.at(at)); };
    qsizetype at = 13;
    if (n < at)
        return false;
    if (byte(10) & 0x80)
        at += 3 * (qsizetype(2) << (byte(10) & 7));
    const auto skipSubBlocks = [&]() {
        while (at < n) {
            const quint8 len = byte(at++);
            if (len == 0)
                return true;
            at += len;
        }
        return false;
    };
    while (at < n) {
        const quint8 kind = byte(at++);
        if (kind == 0x21) { // extension: a label, then sub-blocks
            ++at;
            if (!skipSubBlocks())
                return false;
        } else if (kind == 0x2C) { // image: descriptor, colour table, code size, data
            if (at + 9 > n)
                return false;
            const quint8 flags = byte(at + 8);
            at += 9;
            if (flags & 0x80)
                at += 3 * (qsizetype(2) << (flags & 7));
            ++at;
            return skipSubBlocks();
        } else {
            return true; // the trailer or something the reader judges
        }
    }
    return false;
}

// The common sprite file, a plain 24-bit BMP, read directly: several times faster than
// the general reader, with the same pixels. Anything else returns a null image.
QImage readPlainBmp(const QByteArray &data)
{
    if (data.size() < 54 || !data.startsWith("BM"))
        return {};
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(data.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(data.constData() + at); };
    const quint32 offset = u32(10), header = u32(14);
    const qint64 w = qint32(u32(18)), rawH = qint32(u32(22));
    if ((header != 40 && header != 108 && header != 124) || u16(26) != 1 || u16(28) != 24 ||
        u32(30) != 0 || w <= 0 || rawH == 0)
        return {};
    const qint64 h = rawH < 0 ? -rawH : rawH;
    const qint64 rowBytes = (w * 3 + 3) & ~qint64(3);
    if (w * h > MaxPicturePixels || qint64(offset) + rowBytes * h > data.size())
        return {};
    QImage image(int(w), int(h), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    for (qint64 y = 0; y < h; ++y) {
        const uchar *row = reinterpret_cast<const uchar *>(data.constData()) + offset +
                           (rawH > 0 ? h - 1 - y : y) * rowBytes;
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        // Four pixels from three 32-bit words at a time; the rest byte by byte.
        qint64 x = 0;
        for (; x + 4 <= w; x += 4) {
            quint32 word[3];
            std::memcpy(word, row + 3 * x, 12);
            const quint32 a = qFromLittleEndian(word[0]), b = qFromLittleEndian(word[1]),
                          c = qFromLittleEndian(word[2]);
            out[x] = 0xFF000000u | a;
            out[x + 1] = 0xFF000000u | (a >> 24) | (b << 8);
            out[x + 2] = 0xFF000000u | (b >> 16) | (c << 16);
            out[x + 3] = 0xFF000000u | (c >> 8);
        }
        for (; x < w; ++x)
            out[x] = 0xFF000000u | (uint(row[3 * x + 2]) << 16) | (uint(row[3 * x + 1]) << 8) |
                     row[3 * x];
    }
    return image;
}

} // namespace

QImage readPicture(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw RunError::of(RunError::FileNotFound, path);
    if (!info.isFile())
        throw RunError::of(RunError::PermissionDenied, path + QStringLiteral(" is a folder"));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RunError::of(RunError::PermissionDenied, path);
    // A large sheet is mapped rather than read, so it is not copied before it is decoded; a
    // small sprite is read, since unmapping costs every core a flush of its address cache.
    constexpr qint64 MapFrom = 8 * 1024 * 1024;
    uchar *mapped = file.size() >= MapFrom ? file.map(0, file.size()) : nullptr;
    const QByteArray data = mapped ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped),
                                                             qsizetype(file.size()))
                                   : file.readAll();

    // Checked before anything asks the image plugins what the file is.
    if (QImage plain = readPlainBmp(data); !plain.isNull())
        return plain;

    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    QSize size = reader.size();
    if (!size.isValid())
        size = bmpDeclaredSize(data);
    if (size.isValid() && qint64(size.width()) * size.height() > MaxPicturePixels)
        throw RunError::of(RunError::OutOfMemory,
                           QStringLiteral("%1 is %2 x %3 pixels, more than 16384 x 16384")
                               .arg(path)
                               .arg(size.width())
                               .arg(size.height()));
    if (!bmpIsComplete(data) || !gifIsComplete(data))
        throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" is cut short"));
    // Qt refuses images above 256 MB by default; a 16384 x 16384 sheet needs 1 GB.
    QImageReader::setAllocationLimit(1100);

    QImage image;
    {
        WarningWatch watch;
        image = reader.read();
        if (!image.isNull() && t_warned)
            throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" is damaged"));
    }
    if (image.isNull())
        throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" (") +
                                                         reader.errorString() + ')');
    return image.convertToFormat(QImage::Format_RGB32);
}

QString pictureFilePattern()
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    return patterns.join(QLatin1Char(';'));
}

void writeBmp(const QImage &picture, const QString &path)
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
    char header[54] = {};
    const auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, header + at); };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, quint32(size));
    put32(10, 54);
    put32(14, 40);
    put32(18, quint32(w));
    put32(22, quint32(h));
    qToLittleEndian<quint16>(1, header + 26);
    qToLittleEndian<quint16>(24, header + 28);
    put32(34, quint32(rowBytes * h));
    put32(38, 3780);
    put32(42, 3780);

    WholeFileWriter out(path);
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
