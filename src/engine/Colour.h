#pragma once

#include <QRgb>
#include <QtGlobal>

// A colour as the rest of the program speaks of it: 0x00BBGGRR, red in the low byte.
// -1 means "no colour" (a pixel read outside a picture, a cancelled colour pick).
// Qt's QRgb (0xAARRGGBB) is used only where pixels meet QImage.
using Colour = qint32;

constexpr Colour NoColour = -1;
constexpr Colour Black = 0x000000;
constexpr Colour White = 0xFFFFFF;

constexpr QRgb toQRgb(Colour c)
{
    const auto v = static_cast<quint32>(c);
    return 0xFF000000u | ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
}

constexpr Colour fromQRgb(QRgb p)
{
    return static_cast<Colour>(((p & 0xFFu) << 16) | (p & 0xFF00u) | ((p >> 16) & 0xFFu));
}

constexpr Colour complement(Colour c)
{
    return c ^ 0xFFFFFF;
}
