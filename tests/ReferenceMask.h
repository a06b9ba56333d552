#pragma once

#include "Colour.h"
#include "MaskRule.h"

#include <QImage>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdlib>

// The scan exactly as it is described to the user: column by column, one column and one
// row past the picture, every pixel in turn. Stops after `pixels` counted pixels.
inline QImage referenceMask(const QImage &sprite, QSize maskSize, Colour t, Colour m,
                            qint64 pixels = -1)
{
    QImage mask(maskSize, QImage::Format_RGB32);
    mask.fill(0xFFFFFFFF);
    qint64 n = 0;
    for (int x = 0; x <= sprite.width(); ++x)
        for (int y = 0; y <= sprite.height(); ++y) {
            if (n++ == pixels)
                return mask;
            const Colour c = sprite.valid(x, y) ? fromQRgb(sprite.pixel(x, y)) : NoColour;
            if (mask.valid(x, y))
                mask.setPixel(x, y, toQRgb(c == t ? m : t));
        }
    return mask;
}

// Random pixels from a few colours: the transparency colour, colours one unit away from it
// in each channel, and others.
inline QImage randomSprite(int w, int h, Colour t, quint32 seed)
{
    QRandomGenerator rng(seed);
    const Colour palette[] = {t, t ^ 0x000001, t ^ 0x000100, t ^ 0x010000, 0x123456, 0xFFFFFF};
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, toQRgb(palette[rng.bounded(6)]));
    return img;
}

// The rule as a user reads it, one pixel at a time.
inline QRgb ruleReference(QRgb p, const MaskRule &rule)
{
    bool background = rule.alpha >= 0 && qAlpha(p) <= rule.alpha;
    for (Colour k : rule.keys) {
        const QRgb c = toQRgb(k);
        background |= std::abs(qRed(p) - qRed(c)) <= rule.fuzz &&
                      std::abs(qGreen(p) - qGreen(c)) <= rule.fuzz &&
                      std::abs(qBlue(p) - qBlue(c)) <= rule.fuzz;
    }
    return toQRgb(background ? rule.mask : rule.keys.front());
}

// Pixels on both sides of every edge of the rule: each key moved by fuzz and fuzz + 1 in
// each channel, alphas around the threshold, and random ones.
QList<QRgb> edgePixels(const MaskRule &rule, quint32 seed)
{
    QRandomGenerator rng(seed);
    const int alphas[] = {0, rule.alpha, rule.alpha + 1, 255};
    QList<QRgb> pixels;
    for (Colour k : rule.keys)
        for (int shift : {0, 8, 16})
            for (int d : {-rule.fuzz - 1, -rule.fuzz, 0, rule.fuzz, rule.fuzz + 1}) {
                const int v = std::clamp(((k >> shift) & 0xFF) + d, 0, 255);
                const Colour c = (k & ~(0xFF << shift)) | (v << shift);
                const int a = alphas[rng.bounded(4)];
                pixels.append((toQRgb(c) & 0xFFFFFF) | (uint(std::clamp(a, 0, 255)) << 24));
            }
    for (int i = 0; i < 200; ++i)
        pixels.append(rng.generate());
    return pixels;
}
