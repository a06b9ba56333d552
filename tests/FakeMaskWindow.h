#pragma once

#include "MaskWindow.h"

#include <QImage>
#include <QList>
#include <functional>

// A window made of plain images that records what a scan shows at each of its yields. The
// tests of the scan and the benchmarks use it as it is; Base = RunHost makes it the scan's
// half of a fake run host. Benchmarks set repaintInterval = 30 and follow = true, as the
// window stands by default.
template <typename Base = MaskWindow> class FakeWindowOf : public Base
{
public:
    explicit FakeWindowOf(const QImage &sprite)
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
    void yield() override { onYield(++yields); }
    bool cancelRun() const override { return cancel; }

    QImage sprite;
    QImage mask;
    int repaintInterval = 0, hMax = 0, yields = 0;
    bool follow = false, cancel = false;
    float barRight = -1;
    QString status = QStringLiteral("Status: Ready");
    QList<int> maskScroll, spriteScroll;
    std::function<void(int)> onYield = [](int) {};
};

using FakeMaskWindow = FakeWindowOf<>;
