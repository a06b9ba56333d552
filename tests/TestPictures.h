#pragma once

// Small pictures the tests make themselves, in formats Qt cannot write.

#include <QByteArray>
#include <QImage>

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

