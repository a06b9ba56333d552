#pragma once

// Checks that a picture file's headers and data agree before anything of the picture's
// declared size is allocated. Shared by the reader and the command line's streaming path.

#include "PictureIO.h"
#include "RunError.h"

#include <QtEndian>

RunError damaged(const QString &path, const QString &why);

RunError invalidSize(const QString &path, qint64 w, qint64 h);

// Raises OutOfMemory for a picture over MaxPicturePixels.
void checkPixelCount(const QString &path, qint64 w, qint64 h);

// The most pixels a file of compressed data can honestly describe per byte: a deflate
// stream of a 1-bit PNG packs about 8,300, LZW in a GIF about 2,700, JPEG far fewer.
constexpr qint64 MaxPixelsPerByte = 16384;

// A declared size checked before anything of it is allocated: InvalidPicture for a width or
// height below 1, OutOfMemory over MaxPicturePixels, DamagedPicture for more pixels than
// `fileBytes` can describe at `pixelsPerByte`.
void checkDeclaredSize(const QString &path, qint64 w, qint64 h, qint64 fileBytes,
                       qint64 pixelsPerByte = MaxPixelsPerByte);

class Bytes
{
public:
    explicit Bytes(const QByteArray &data)
        : m_p(reinterpret_cast<const uchar *>(data.constData())), m_n(data.size())
    {
    }
    Bytes(const uchar *p, qint64 n) : m_p(p), m_n(n) {}
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

// A BMP's headers checked against the file: `head` holds the file's first bytes, at least
// its headers and palette (the first 64 KiB always do), `fileSize` its length.
BmpLayout checkBmp(const Bytes &head, qint64 fileSize, const QString &path);

// The 54 bytes that start a bottom-up BMP of `bpp` bits with `colours` palette entries
// (which follow it) and a fixed 96 dpi: the same picture always gives the same bytes, from
// the window or the command line.
void bmpHeader(qint64 width, qint64 height, int bpp, int colours, char out[54]);
