#include "PictureChecks.h"

#include <algorithm>
#include <array>

RunError damaged(const QString &path, const QString &why)
{
    return RunError::of(RunError::DamagedPicture, path + QLatin1Char(' ') + why);
}

RunError invalidSize(const QString &path, qint64 w, qint64 h)
{
    return RunError::of(
        RunError::InvalidPicture,
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

void checkDeclaredSize(const QString &path, qint64 w, qint64 h, qint64 fileBytes,
                       qint64 pixelsPerByte)
{
    if (w <= 0 || h <= 0)
        throw invalidSize(path, w, h);
    checkPixelCount(path, w, h);
    if (w * h > pixelsPerByte * fileBytes)
        throw damaged(path,
                      QStringLiteral("declares %1 x %2 pixels, more than its %3 bytes can hold")
                          .arg(w)
                          .arg(h)
                          .arg(fileBytes));
}

namespace
{

} // namespace

BmpLayout checkBmp(const Bytes &b, qint64 fileSize, const QString &path)
{
    const auto cut = [&] { return damaged(path, QStringLiteral("is cut short")); };
    if (fileSize < 18 || b.size() < 18)
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
        throw damaged(path,
                      QStringLiteral("has %1 bits per pixel in %2 planes").arg(bpp).arg(planes));
    const quint32 c = bmp.compression;
    if (!(c == BiRgb || (c == BiRle4 && bpp == 4) || (c == BiRle8 && bpp == 8) ||
          (c == BiBitfields && (bpp == 16 || bpp == 32))))
        throw RunError::of(RunError::InvalidPicture,
                           path + QStringLiteral(" is a BMP of a kind the program does not read "
                                                 "(compression %1 at %2 bits)")
                                      .arg(c)
                                      .arg(bpp));

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
    if (bmp.offset >= fileSize)
        throw cut();

    const qint64 data = fileSize - bmp.offset;
    if (c == BiRle4 || c == BiRle8) {
        // A run is two bytes and paints at most 255 pixels.
        if (bmp.width * bmp.rows() > 255 * (data / 2))
            throw damaged(path,
                          QStringLiteral("declares %1 x %2 pixels, more than its %3 bytes can hold")
                              .arg(bmp.width)
                              .arg(bmp.rows())
                              .arg(fileSize));
    } else if (bmp.rowBytes() * bmp.rows() > data) {
        throw cut();
    }
    return bmp;
}

namespace
{

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

} // namespace

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

void bmpHeader(qint64 width, qint64 height, int bpp, int colours, char out[54])
{
    const qint64 rowBytes = ((width * bpp + 31) / 32) * 4, offset = 54 + 4 * colours;
    std::fill(out, out + 54, '\0');
    const auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, out + at); };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, quint32(offset + rowBytes * height));
    put32(10, quint32(offset));
    put32(14, 40);
    put32(18, quint32(width));
    put32(22, quint32(height));
    qToLittleEndian<quint16>(1, out + 26);
    qToLittleEndian<quint16>(quint16(bpp), out + 28);
    put32(34, quint32(rowBytes * height));
    put32(38, 3780);
    put32(42, 3780);
    put32(46, quint32(colours));
    put32(50, quint32(colours));
}
