#pragma once

// Small pictures the tests make themselves, in formats Qt cannot write.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

// A picture as Qt writes it in `format`; `progressive` only tells the JPEG writer.
inline QByteArray saved(const QImage &img, const char *format, int quality = -1,
                        bool progressive = false)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(img);
    return buffer.data();
}

// Fifteen colours whose channels all differ, so a mirrored, flipped or BGR-swapped read shows.
inline QRgb colour(int i)
{
    return qRgb(16 * i + 8, 200 - 9 * i, (40 + 53 * i) % 256);
}

inline QImage sample()
{
    QImage img(5, 3, QImage::Format_RGB32);
    for (int i = 0; i < 15; ++i)
        img.setPixel(i % 5, i / 5, colour(i));
    return img;
}

inline void put(QByteArray &b, quint32 v, int n)
{
    for (int i = 0; i < n; ++i)
        b.append(char(v >> (8 * i)));
}

// A GIF89a with a 16-colour table. The code stream is cleared every eight codes so the
// code width stays at five bits and the encoder needs no dictionary.
inline QByteArray gif()
{
    QByteArray out("GIF89a\5\0\3\0\xF3\0\0", 13), lzw;
    for (int i = 0; i < 16; ++i)
        put(out, qBlue(colour(i)) << 16 | qGreen(colour(i)) << 8 | qRed(colour(i)), 3);
    out += QByteArray("\x2C\0\0\0\0\5\0\3\0\0\4", 11);
    quint32 acc = 0;
    int bits = 0;
    for (int i = 0; i <= 17; ++i) {
        const int code = i % 9 == 0 ? 16 : i == 17 ? 17 : i - 1 - i / 9;
        acc |= quint32(code) << bits;
        for (bits += 5; bits >= 8; bits -= 8, acc >>= 8)
            lzw.append(char(acc));
    }
    lzw.append(char(acc));
    return out + char(lzw.size()) + lzw + QByteArray("\0\x3B", 2);
}

// headerTail extends the 40-byte info header (the V4 masks); the palette follows it.
inline QByteArray bmp(int w, int h, int bpp, int compression, const QByteArray &pixels,
                      int paletteSize = 0, const QByteArray &headerTail = {})
{
    QByteArray out;
    const int offset = 54 + headerTail.size() + 4 * paletteSize;
    const int tail = headerTail.size(), size = pixels.size();
    put(out, 0x4D42, 2);
    for (int v : {offset + size, 0, offset, 40 + tail, w, h, 1 | bpp << 16, compression, size, 2835,
                  2835, paletteSize, 0})
        put(out, v, 4);
    out += headerTail;
    for (int i = 0; i < paletteSize; ++i)
        put(out, colour(i), 4);
    return out + pixels;
}

// The sample's rows as 8-bit indices, 24/32-bit BGR(A) pixels, or RLE8 runs of one pixel
// closed by end-of-line and end-of-bitmap codes.
inline QByteArray rows(int bpp, bool bottomUp, bool rle = false)
{
    QByteArray out;
    for (int r = 0; r < 3; ++r) {
        QByteArray row;
        for (int x = 0, i = 5 * (bottomUp ? 2 - r : r); x < 5; ++x, ++i)
            put(row,
                bpp == 8 ? (rle ? 1 | i << 8 : i) : (colour(i) & 0xffffff) | quint32(i * 18) << 24,
                rle ? 2 : bpp / 8);
        out += row + (rle ? QByteArray(1, '\0') + char(r == 2)
                          : QByteArray((4 - row.size() % 4) % 4, '\0'));
    }
    return out;
}

// The sample as RLE4: a run of one pixel each, rows closed by end-of-line codes.
inline QByteArray rle4Rows()
{
    QByteArray out;
    for (int r = 0; r < 3; ++r) {
        for (int x = 0; x < 5; ++x)
            put(out, 1 | (5 * (2 - r) + x) % 16 << 12, 2);
        put(out, r == 2 ? 0x100 : 0, 2);
    }
    return out;
}

// The sample in the old 12-byte core header, 24 bits, rows bottom-up.
inline QByteArray coreBmp()
{
    QByteArray out;
    const QByteArray pixels = rows(24, true);
    put(out, 0x4D42, 2);
    for (int v : {26 + int(pixels.size()), 0, 26, 12})
        put(out, v, 4);
    for (int v : {5, 3, 1, 24})
        put(out, v, 2);
    return out + pixels;
}

// A picture's rows as an uncompressed BMP stores them: 24 or 32 bits, bottom-up or top-down.
inline QByteArray packed(const QImage &img, int bpp, bool topDown)
{
    QByteArray rows;
    const int rowBytes = ((img.width() * bpp + 31) / 32) * 4;
    for (int r = 0; r < img.height(); ++r) {
        QByteArray row;
        const QRgb *line =
            reinterpret_cast<const QRgb *>(img.constScanLine(topDown ? r : img.height() - 1 - r));
        for (int x = 0; x < img.width(); ++x)
            put(row, (line[x] & 0xFFFFFF) | quint32(x) << 24, bpp / 8);
        rows += row + QByteArray(rowBytes - row.size(), '\0');
    }
    return bmp(img.width(), topDown ? -img.height() : img.height(), bpp, 0, rows);
}

// `b` with `n` bytes at `at` set to `v`, least significant first.
inline QByteArray with(QByteArray b, int at, quint32 v, int n = 4)
{
    for (int i = 0; i < n; ++i)
        b[at + i] = char(v >> (8 * i));
    return b;
}

// A PNG with the data of one chunk changed and its CRC made right again, as a careless tool
// leaves it: only the content shows the damage. `edit` changes the chunk's data in place.
template <typename Edit> inline QByteArray withChunk(QByteArray png, const char *type, Edit edit)
{
    for (int at = 8; at + 12 <= png.size();) {
        const int n = int(quint32(uchar(png[at])) << 24 | uchar(png[at + 1]) << 16 |
                          uchar(png[at + 2]) << 8 | uchar(png[at + 3]));
        if (png.mid(at + 4, 4) == type) {
            QByteArray data = png.mid(at + 8, n);
            edit(data);
            quint32 crc = 0xFFFFFFFFu;
            for (const char c : png.mid(at + 4, 4) + data) {
                crc ^= uchar(c);
                for (int k = 0; k < 8; ++k)
                    crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
            }
            png.replace(at + 8, n, data);
            for (int k = 0; k < 4; ++k)
                png[at + 8 + n + k] = char(~crc >> (24 - 8 * k));
            return png;
        }
        at += 12 + n;
    }
    return png;
}
