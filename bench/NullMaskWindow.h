#pragma once

#include "MaskWindow.h"

#include <QImage>

// The engine's view of a window with nothing behind it: what a scan costs on its own.
class NullMaskWindow : public MaskWindow
{
public:
    explicit NullMaskWindow(const QImage &sprite)
        : sprite(sprite), mask(sprite.size(), QImage::Format_RGB32)
    {
    }
    const QImage &spritePicture() const override { return sprite; }
    QImage &maskPicture() override { return mask; }
    void clearMask() override { mask.fill(0xFFFFFFFF); }
    void maskPictureChanged() override {}
    QSize progressBarSize() const override { return {741, 13}; }
    void clearProgressBar() override {}
    void fillProgressBar(float) override {}
    bool scrollFollowsScan() const override { return true; }
    double maskViewportWidth() const override { return 341; }
    int hScrMaskMax() const override { return 0; }
    int hScrSpriteMax() const override { return 0; }
    void setHScrMaskValue(int) override {}
    void setHScrSpriteValue(int) override {}
    void setStatus(const QString &) override {}
    Colour transparencyColour() const override { return 0; }
    Colour maskColour() const override { return 0xFFFFFF; }
    void yield() override {}
    bool cancelRun() const override { return false; }
    void setCancelRun(bool) override {}
    void setCancelEnabled(bool) override {}
    void ControlsEnabled(bool) override {}

    QImage sprite;
    QImage mask;
};

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
