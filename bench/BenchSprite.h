#pragma once

#include <QImage>

// A sprite with a black background and a few shapes on it, as sprites are.
inline QImage benchSprite(int size)
{
    QImage img(size, size, QImage::Format_RGB32);
    img.fill(0xFF000000);
    for (int y = 0; y < size; ++y)
        for (int x = size / 4; x < size - size / 4; ++x)
            if ((x / 8 + y / 8) % 3 != 0)
                img.setPixel(x, y, 0xFF20A040 + (x & 0xF));
    return img;
}
