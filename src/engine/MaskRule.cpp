#include "MaskRule.h"

#include "MaskScan.h"
#include "PixelRows.h"
#include "RunError.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace
{

// The rule with its colours unpacked once per span, so the per-pixel loop only compares
// integers. Sprites rarely have more than a few key colours; more than 16 are rejected by
// the command line, and the rest would never be looked at.
struct Prepared {
    static constexpr int MaxKeys = 16;
    std::array<int, MaxKeys * 3> key{}; // r, g, b per key
    int keys = 0;
    int fuzz = 0;
    int alpha = -1;
    QRgb transparent = 0, mask = 0;

    explicit Prepared(const MaskRule &rule)
        : fuzz(rule.fuzz), alpha(rule.alpha), transparent(toQRgb(rule.transparent())),
          mask(toQRgb(rule.mask))
    {
        for (Colour c : rule.keys) {
            if (c == NoColour || keys == MaxKeys)
                continue;
            key[keys * 3] = c & 0xFF;
            key[keys * 3 + 1] = (c >> 8) & 0xFF;
            key[keys * 3 + 2] = (c >> 16) & 0xFF;
            ++keys;
        }
    }

    bool background(int r, int g, int b, int a) const
    {
        if (a <= alpha)
            return true;
        for (int k = 0; k < keys; ++k)
            if (std::abs(r - key[k * 3]) <= fuzz && std::abs(g - key[k * 3 + 1]) <= fuzz &&
                std::abs(b - key[k * 3 + 2]) <= fuzz)
                return true;
        return false;
    }
};

} // namespace

void applyRule(const QRgb *in, QRgb *out, int count, const MaskRule &rule)
{
    if (rule.isExact()) {
        const Colour t = rule.transparent();
        maskSpan(in, out, count, toQRgb(t), toQRgb(rule.mask), (t & ~0xFFFFFF) == 0);
        return;
    }
    const Prepared p(rule);
    for (int i = 0; i < count; ++i) {
        const QRgb c = in[i];
        out[i] = p.background(qRed(c), qGreen(c), qBlue(c), p.alpha >= 0 ? qAlpha(c) : 255)
                     ? p.mask
                     : p.transparent;
    }
}

namespace
{

// The common rules of 32-bit sprites, exact colours and an alpha threshold, without a
// branch per pixel: each pixel is one word compared with the keys, a chunk of results is
// then packed to three bytes a pixel.
bool applyExactKeysBgra(const uchar *in, uchar *out, int count, const Prepared &p)
{
    constexpr int MaxKeys = 4;
    if (p.fuzz != 0 || p.keys > MaxKeys)
        return false;
    quint32 key[MaxKeys];
    for (int k = 0; k < MaxKeys; ++k) // an unused key is a value no masked pixel has
        key[k] = k < p.keys ? quint32(p.key[k * 3] << 16 | p.key[k * 3 + 1] << 8 | p.key[k * 3 + 2])
                            : 0xFFFFFFFFu;
    const quint32 alpha = quint32(p.alpha + 1); // background below this; 0: never
    constexpr int Chunk = 256;
    QRgb mask[Chunk];
    for (int x0 = 0; x0 < count; x0 += Chunk) {
        const int n = std::min(Chunk, count - x0);
        for (int i = 0; i < n; ++i) {
            const quint32 px = qFromLittleEndian<quint32>(in + 4 * (x0 + i));
            const quint32 rgb = px & 0xFFFFFF;
            const bool background = (px >> 24) < alpha || rgb == key[0] || rgb == key[1] ||
                                    rgb == key[2] || rgb == key[3];
            mask[i] = background ? p.mask : p.transparent;
        }
        packRow24(mask, out + 3 * x0, n);
    }
    return true;
}

} // namespace

void applyRuleBgr(const uchar *in, int inBytes, uchar *out, int count, const MaskRule &rule)
{
    const Prepared p(rule);
    if (inBytes == 4 && applyExactKeysBgra(in, out, count, p))
        return;
    const uchar m[3] = {uchar(qBlue(p.mask)), uchar(qGreen(p.mask)), uchar(qRed(p.mask))};
    const uchar t[3] = {uchar(qBlue(p.transparent)), uchar(qGreen(p.transparent)),
                        uchar(qRed(p.transparent))};
    const bool alpha = inBytes == 4 && p.alpha >= 0;
    for (int i = 0; i < count; ++i, in += inBytes, out += 3) {
        const uchar *c = p.background(in[2], in[1], in[0], alpha ? in[3] : 255) ? m : t;
        out[0] = c[0];
        out[1] = c[1];
        out[2] = c[2];
    }
}

QImage maskOf(const QImage &sprite, const MaskRule &rule)
{
    const QImage in =
        sprite.format() == QImage::Format_RGB32 || sprite.format() == QImage::Format_ARGB32
            ? sprite
            : sprite.convertToFormat(QImage::Format_ARGB32);
    QImage mask(in.size(), QImage::Format_RGB32);
    if (mask.isNull() && !in.isNull())
        throw RunError::of(RunError::OutOfMemory);
    for (int y = 0; y < in.height(); ++y)
        applyRule(reinterpret_cast<const QRgb *>(in.constScanLine(y)),
                  reinterpret_cast<QRgb *>(mask.scanLine(y)), in.width(), rule);
    return mask;
}
