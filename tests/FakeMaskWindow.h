#pragma once

#include "MaskWindow.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>

#include <algorithm>
#include <functional>

// A window made of plain images that records what a scan shows at each of its frames. The
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
    bool scrollFollowsScan() const override { return follow; }
    double maskViewportWidth() const override { return 341; }
    int hScrMaskMax() const override { return hMax; }
    // A frame every repaintInterval milliseconds, on the real clock.
    bool frameDue() const override
    {
        return !sinceFrame.isValid() || sinceFrame.elapsed() >= repaintInterval;
    }
    // Shown at once, whatever the run asks: a frame as the window would paint it.
    void show(const RunView &v, MaskWindow::Show) override
    {
        if (!v.fileCounter.isEmpty())
            counter = v.fileCounter;
        if (!v.status.isEmpty())
            status = v.status + v.statusPath;
        if (v.percent)
            barRight = float(741 / 100.0 * *v.percent);
        sinceFrame.start();
        if (v.scroll)
            scroll.append(std::min(*v.scroll, hMax));
        onShow(v);
    }
    void yield() override { onYield(++yields); }
    bool cancelRun() const override { return cancel; }

    QImage sprite;
    QImage mask;
    int repaintInterval = 0, hMax = 0, yields = 0;
    bool follow = false, cancel = false;
    float barRight = -1;
    QString status = QStringLiteral("Status: Ready"), counter;
    QList<int> scroll;
    std::function<void(int)> onYield = [](int) {};
    std::function<void(const RunView &)> onShow = [](const RunView &) {};
    QElapsedTimer sinceFrame;
};

using FakeMaskWindow = FakeWindowOf<>;
