#pragma once

#include "MaskWindow.h"

#include <QImage>
#include <QStringList>
#include <functional>

// A window made of plain images that records what a run shows at each of its yields.
class FakeMaskWindow : public MaskWindow
{
public:
    explicit FakeMaskWindow(const QImage &sprite)
        : sprite(sprite.convertToFormat(QImage::Format_RGB32)),
          mask(this->sprite.size(), QImage::Format_RGB32)
    {
        mask.fill(0xFFFFFFFF);
    }

    const QImage &spritePicture() const override { return sprite; }
    QImage &maskPicture() override { return mask; }
    void clearMask() override { mask.fill(0xFFFFFFFF); }
    void maskPictureChanged() override {}
    int maskRepaintInterval() const override { return repaintInterval; }
    QSize progressBarSize() const override { return {741, 13}; }
    void clearProgressBar() override { barRight = 0; }
    void fillProgressBar(float right) override { barRight = right; }
    bool scrollFollowsScan() const override { return follow; }
    double maskViewportWidth() const override { return 341; }
    int hScrMaskMax() const override { return hMax; }
    int hScrSpriteMax() const override { return hMax; }
    void setHScrMaskValue(int v) override { maskScroll.append(v); }
    void setHScrSpriteValue(int v) override { spriteScroll.append(v); }
    void setStatus(const QString &text) override { status = text; }
    Colour transparencyColour() const override { return 0x000000; }
    Colour maskColour() const override { return 0xFFFFFF; }
    void yield() override { onYield(++yields); }
    bool cancelRun() const override { return cancel; }
    void setCancelRun(bool set) override { cancel = set; }
    void setCancelEnabled(bool) override {}
    void ControlsEnabled(bool) override {}

    QImage sprite;
    QImage mask;
    int repaintInterval = 0, hMax = 0, yields = 0;
    bool follow = false, cancel = false;
    float barRight = -1;
    QString status = QStringLiteral("Status: Ready");
    QList<int> maskScroll, spriteScroll;
    std::function<void(int)> onYield = [](int) {};
};
