#include "PictureIO.h"

#include "FileOps.h"
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

RunError damaged(const QString &path, const QString &why)
{
    return RunError::of(RunError::DamagedPicture, path + QLatin1Char(' ') + why);
}

RunError invalidSize(const QString &path, qint64 w, qint64 h)
{
    return RunError::of(RunError::InvalidPicture,
                        QStringLiteral("%1 is not a valid picture (%2 x %3 pixels)").arg(path).arg(w).arg(h));
}

void checkPixelCount(const QString &path, qint64 w, qint64 h)
{
    if (w * h > MaxPicturePixels)
        throw RunError::of(RunError::OutOfMemory,
                           QStringLiteral("%1 is %2 x %3 pixels, more than 16384 x 16384")
                               .arg(path)
                               .arg(w)
                               .arg(h));
}

class Bytes
{
public:
    explicit Bytes(const QByteArray &data)
        : m_p(reinterpret_cast<const uchar *>(data.constData())), m_n(data.size())
    {
    }
    qint64 size() const { return m_n; }
    uchar u8(qint64 at) const { return m_p[at]; }
    quint16 u16(qint64 at) const { return qFromLittleEndian<quint16>(m_p + at); }
    quint32 u32(qint64 at) const { return qFromLittleEndian<quint32>(m_p + at); }
    const uchar *at(qint64 offset) const { return m_p + offset; }

private:
    const uchar *m_p;
    qint64 m_n;
};

// What a BMP's headers say, once they have been found consistent with the file.
struct BmpLayout {
    qint64 width = 0, height = 0; // height as stored: negative for top-down rows
    int bpp = 0;
    quint32 compression = 0;
    quint32 headerSize = 0;
    qint64 offset = 0;
    qint64 rowBytes() const { return ((width * bpp + 31) / 32) * 4; }
    qint64 rows() const { return height < 0 ? -height : height; }
};

enum : quint32 { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3 };

// Whether a run-length stream paints every row before its end: a stream that ends early
// or is cut off would otherwise come out with rows of palette colour 0. Runs past a row's
// end are cut there, as the decoder does.
void checkRunLengths(const Bytes &b, const BmpLayout &bmp, const QString &path)
{
    const bool four = bmp.compression == BiRle4;
    const qint64 w = bmp.width, h = bmp.rows();
    qint64 x = 0, y = 0, p = bmp.offset;
    while (y < h) {
        if (p + 2 > b.size())
            throw damaged(path, QStringLiteral("is cut short"));
        const uchar count = b.u8(p), code = b.u8(p + 1);
        p += 2;
        if (count > 0) {
            x = std::min(w, x + count);
            continue;
        }
        switch (code) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of picture
            if (y < h - 1)
                throw damaged(path, QStringLiteral("ends before its last row"));
            return;
        case 2: // a jump right and up
            if (p + 2 > b.size())
                throw damaged(path, QStringLiteral("is cut short"));
            x = std::min(w, x + b.u8(p));
            y += b.u8(p + 1);
            p += 2;
            break;
        default: { // `code` literal pixels, padded to a whole number of 16-bit words
            qint64 bytes = four ? (code + 1) / 2 : code;
            bytes += bytes & 1;
            if (p + bytes > b.size())
                throw damaged(path, QStringLiteral("is cut short"));
            p += bytes;
            x = std::min(w, x + code);
        }
        }
    }
}

BmpLayout checkBmp(const Bytes &b, const QString &path)
{
    const auto cut = [&] { return damaged(path, QStringLiteral("is cut short")); };
    if (b.size() < 18)
        throw cut();
    BmpLayout bmp;
    bmp.headerSize = b.u32(14);
    const quint32 hs = bmp.headerSize;
    if (hs != 12 && hs != 40 && hs != 64 && hs != 108 && hs != 124)
        throw damaged(path, QStringLiteral("has a header of %1 bytes, which no BMP has").arg(hs));
    if (b.size() < 14 + qint64(hs))
        throw cut();
    const bool core = hs == 12;
    int planes;
    quint32 colorsUsed = 0;
    if (core) {
        bmp.width = qint16(b.u16(18));
        bmp.height = qint16(b.u16(20));
        planes = b.u16(22);
        bmp.bpp = b.u16(24);
    } else {
        bmp.width = qint32(b.u32(18));
        bmp.height = qint32(b.u32(22));
        planes = b.u16(26);
        bmp.bpp = b.u16(28);
        bmp.compression = b.u32(30);
        colorsUsed = b.u32(46);
    }
    if (bmp.width <= 0 || bmp.height == 0)
        throw invalidSize(path, bmp.width, bmp.height);
    checkPixelCount(path, bmp.width, bmp.rows());
    const int bpp = bmp.bpp;
    if (planes != 1 || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
        throw damaged(path, QStringLiteral("has %1 bits per pixel in %2 planes").arg(bpp).arg(planes));
    const quint32 c = bmp.compression;
    if (!(c == BiRgb || (c == BiRle4 && bpp == 4) || (c == BiRle8 && bpp == 8) ||
          (c == BiBitfields && (bpp == 16 || bpp == 32))))
        throw RunError::of(RunError::InvalidPicture,
                           path + QStringLiteral(" is a BMP of a kind the program does not read "
                                                 "(compression %1 at %2 bits)").arg(c).arg(bpp));

    // Colour masks follow a 40-byte header; the later headers hold them.
    qint64 tablesEnd = 14 + hs;
    if (c == BiBitfields) {
        const qint64 masks = hs == 40 ? tablesEnd : 14 + 40;
        if (hs == 40)
            tablesEnd += 12;
        if (tablesEnd > b.size())
            throw cut();
        if ((b.u32(masks) | b.u32(masks + 4) | b.u32(masks + 8)) == 0)
            throw damaged(path, QStringLiteral("has no colour masks"));
    }
    if (bpp <= 8) {
        const qint64 colours = colorsUsed ? colorsUsed : 1 << bpp;
        if (colours > 256)
            throw damaged(path, QStringLiteral("has a palette of %1 colours").arg(colours));
        tablesEnd += colours * (core ? 3 : 4);
        if (tablesEnd > b.size())
            throw damaged(path, QStringLiteral("has a palette that runs past its end"));
    }
    bmp.offset = b.u32(10);
    if (bmp.offset < tablesEnd)
        throw damaged(path, QStringLiteral("has its pixels start inside its header"));
    if (bmp.offset >= b.size())
        throw cut();

    const qint64 data = b.size() - bmp.offset;
    if (c == BiRle4 || c == BiRle8) {
        // A run is two bytes and paints at most 255 pixels.
        if (bmp.width * bmp.rows() > 255 * (data / 2))
            throw damaged(path, QStringLiteral("declares %1 x %2 pixels, more than its %3 bytes can hold")
                                    .arg(bmp.width).arg(bmp.rows()).arg(b.size()));
        checkRunLengths(b, bmp, path);
    } else if (bmp.rowBytes() * bmp.rows() > data) {
        throw cut();
    }
    return bmp;
}

// Reads the codes of a GIF picture's LZW stream, which is split into sub-blocks of up to
// 255 bytes.
class GifCodes
{
public:
    GifCodes(const Bytes &b, qint64 at) : m_b(b), m_at(at) {}

    // The next code of `bits` bits; -1 when the stream has ended.
    int next(int bits)
    {
        while (m_have < bits) {
            if (m_left == 0) {
                if (m_ended || m_at >= m_b.size())
                    return -1;
                m_left = m_b.u8(m_at++);
                if (m_left == 0) {
                    m_ended = true;
                    return -1;
                }
            }
            if (m_at >= m_b.size())
                return -1;
            m_bits |= quint32(m_b.u8(m_at++)) << m_have;
            m_have += 8;
            --m_left;
        }
        const int code = int(m_bits & ((1u << bits) - 1));
        m_bits >>= bits;
        m_have -= bits;
        return code;
    }

private:
    const Bytes &m_b;
    qint64 m_at;
    int m_left = 0;
    bool m_ended = false;
    quint32 m_bits = 0;
    int m_have = 0;
};

// Whether the LZW stream at `at` holds a valid code sequence for at least `needed`
// pixels. Qt's decoder shows a broken or cut-short stream as a picture part black.
void checkGifPixels(const Bytes &b, qint64 at, qint64 needed, const QString &path)
{
    if (at >= b.size())
        throw damaged(path, QStringLiteral("is cut short"));
    const int minBits = b.u8(at);
    if (minBits < 1 || minBits > 11)
        throw damaged(path, QStringLiteral("has a broken picture stream"));
    const int clear = 1 << minBits, end = clear + 1;
    std::array<quint16, 4096> length{}; // of the string each table code stands for
    GifCodes codes(b, at + 1);
    int bits = minBits + 1, next = end + 1, previous = -1;
    qint64 produced = 0;
    while (produced < needed) {
        const int code = codes.next(bits);
        if (code < 0 || code == end)
            break;
        if (code == clear) {
            bits = minBits + 1;
            next = end + 1;
            previous = -1;
            continue;
        }
        int len;
        if (code < clear)
            len = 1;
        else if (code < next && code > end)
            len = length[code];
        else if (code == next && previous >= 0)
            len = (previous < clear ? 1 : length[previous]) + 1;
        else
            throw damaged(path, QStringLiteral("has a broken picture stream"));
        produced += len;
        if (previous >= 0 && next < 4096) {
            length[next] = quint16((previous < clear ? 1 : length[previous]) + 1);
            if (++next == (1 << bits) && bits < 12)
                ++bits;
        }
        previous = code;
    }
    if (produced < needed)
        throw damaged(path, QStringLiteral("is cut short"));
}

// A GIF's first picture must be there whole: Qt shows a cut-short or broken GIF as a
// partly black picture and says nothing.
void checkGif(const Bytes &b, const QString &path)
{
    const auto cut = [&] { return damaged(path, QStringLiteral("is cut short")); };
    if (b.size() < 13)
        throw cut();
    if (b.u16(6) == 0 || b.u16(8) == 0)
        throw invalidSize(path, b.u16(6), b.u16(8));
    qint64 at = 13;
    if (b.u8(10) & 0x80)
        at += 3 * (qint64(2) << (b.u8(10) & 7));
    while (at < b.size()) {
        const uchar kind = b.u8(at++);
        if (kind == 0x21) { // extension: a label, then sub-blocks
            ++at;
            while (at < b.size() && b.u8(at) != 0)
                at += 1 + b.u8(at);
            if (at >= b.size())
                throw cut();
            ++at;
        } else if (kind == 0x2C) { // picture: descriptor, colour table, LZW stream
            if (at + 9 > b.size())
                throw cut();
            const qint64 w = b.u16(at + 4), h = b.u16(at + 6);
            const uchar flags = b.u8(at + 8);
            at += 9;
            if (flags & 0x80)
                at += 3 * (qint64(2) << (flags & 7));
            checkGifPixels(b, at, w * h, path);
            return;
        } else {
            throw damaged(path, QStringLiteral("holds no picture"));
        }
    }
    throw cut();
}

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
    if (data.startsWith("BM")) {
        const BmpLayout bmp = checkBmp(b, path);
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
    if (const QSize size = reader.size(); size != QSize()) {
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
