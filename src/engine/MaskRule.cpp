#include "MaskRule.h"

#include "MaskScan.h"
#include "RunError.h"

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
        // With no colour at all to match, every pixel that is not see-through becomes the
        // "transparent" colour, which then is no colour: keep the window's black.
        if (rule.transparent() == NoColour)
            transparent = toQRgb(Black);
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

void applyRuleBgr(const uchar *in, int inBytes, uchar *out, int count, const MaskRule &rule)
{
    const Prepared p(rule);
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
