#pragma once

#include "Colour.h"

#include <QImage>

#include <vector>

// Which sprite pixels count as background, for masks made outside the window. A pixel is
// background when it is within `fuzz` of one of the key colours in every channel, or when
// `alpha` is 0..255 and the pixel's alpha is at most that; with no key at all only the alpha
// decides. Background pixels become `mask`, all others transparent(). The default (one key,
// fuzz 0, alpha unused, sprite pixels in the key's colour) is exactly the window's rule.
struct MaskRule {
    std::vector<Colour> keys{Black};
    int fuzz = 0;   // 0..255
    int alpha = -1; // -1: the alpha channel is not looked at
    Colour mask = White;
    Colour sprite = NoColour; // the sprite's own pixels in the mask; NoColour: transparent()

    // The colour the sprite's own pixels take in the mask, the window's "transparency
    // colour": `sprite` when set, else the first key, else black.
    Colour transparent() const
    {
        return sprite != NoColour ? sprite : keys.empty() ? Black : keys.front();
    }
    bool usesAlpha() const { return alpha >= 0; }
    // Whether this is the window's rule: one key, matched exactly, no alpha, and the sprite's
    // pixels in the key's colour. transparent() is then that key.
    bool isExact() const
    {
        return keys.size() == 1 && fuzz == 0 && !usesAlpha() &&
               (sprite == NoColour || sprite == keys.front());
    }
};

// The rule over a span of pixels (Format_RGB32 or Format_ARGB32, not premultiplied). Colours
// are compared without their alpha. Output pixels have alpha 0xFF.
void applyRule(const QRgb *in, QRgb *out, int count, const MaskRule &rule);

// The same over packed rows as BMP files hold them: `inBytes` 3 (B, G, R) or 4 (B, G, R, A)
// per pixel in, three (B, G, R) per pixel out. The fourth byte is read as alpha only when
// the rule uses alpha.
void applyRuleBgr(const uchar *in, int inBytes, uchar *out, int count, const MaskRule &rule);

// The mask of a whole picture under the rule, as Format_RGB32.
QImage maskOf(const QImage &sprite, const MaskRule &rule);
