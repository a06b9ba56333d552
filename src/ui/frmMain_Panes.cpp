#include "frmMain.h"

#include "PictureSurface.h"
#include "Rounding.h"
#include "frmPickColor.h"

#include <QScrollBar>

#include <algorithm>

namespace
{

// Scroll bars hold 16-bit values.
int clamp16(int v)
{
    return std::clamp(v, -32768, 32767);
}

void setScrollRange(QScrollBar *bar, double overhang)
{
    bar->setMaximum(clamp16(roundHalfEven(overhang)));
    bar->setMinimum(0);
    // A step below one pixel would make the arrows and the track do nothing.
    bar->setSingleStep(std::max(1, roundHalfEven(bar->maximum() / 10.0)));
    bar->setPageStep(std::max(1, roundHalfEven(bar->maximum() / 5.0)));
}

void clearScrollRange(QScrollBar *bar)
{
    bar->setMaximum(0);
    bar->setMinimum(0);
}

} // namespace

void frmMain::SetTColor(Colour Color)
{
    TColor = Color;
    picTColor->setBackColor(Color);
    SetMColor(complement(Color));
}

void frmMain::SetMColor(Colour Color)
{
    MColor = Color;
    picMColor->setBackColor(Color);
}

Colour frmMain::PickColor(Colour InitialColor, const QString &Caption)
{
    frmPickColor dialog(this);
    dialog.Display(InitialColor, Caption);
    return dialog.CurrColor;
}

void frmMain::picTColor_Click()
{
    if (m_running)
        return;
    const Colour r = PickColor(TColor, QStringLiteral("Transparency Color.."));
    if (r > -1)
        SetTColor(r);
}

void frmMain::picMColor_Click()
{
    if (m_running)
        return;
    const Colour r = PickColor(MColor, QStringLiteral("Opposite Color..."));
    if (r > -1)
        SetMColor(r);
}

void frmMain::pickFromSprite(int buttons, int x, int y)
{
    // Outside the picture there is no colour to take: the last one inside stays.
    const Colour c = picSprite->pixel(x, y);
    if (c == NoColour || m_running)
        return;
    if (buttons == 1)
        SetTColor(c);
    else if (buttons == 2)
        SetMColor(c);
}

void frmMain::picSprite_Resize()
{
    picSprite->move(0, 0);
    picMask->move(0, 0);
    picMask->setDrawableSize(picSprite->image().size());

    if (picSprite->drawableWidth() > conSprite->drawableWidth()) {
        setScrollRange(HScrSprite, picSprite->drawableWidth() - conSprite->drawableWidth());
        setScrollRange(HScrMask, picMask->drawableWidth() - conMask->drawableWidth());
    } else {
        clearScrollRange(HScrSprite);
        clearScrollRange(HScrMask);
    }
    if (picSprite->drawableHeight() > conSprite->drawableHeight()) {
        setScrollRange(VScrSprite, picSprite->drawableHeight() - conSprite->drawableHeight());
        setScrollRange(VScrMask, picMask->drawableHeight() - conMask->drawableHeight());
    } else {
        clearScrollRange(VScrSprite);
        clearScrollRange(VScrMask);
    }
}

void frmMain::scrollPictures()
{
    // During a scan the bars move at nearly every refresh point: the pictures follow them
    // once a frame.
    if (!m_pacer.picturesMayMove())
        return;
    picSprite->move(-HScrSprite->value(), -VScrSprite->value());
    picMask->move(-HScrMask->value(), -VScrMask->value());
}
