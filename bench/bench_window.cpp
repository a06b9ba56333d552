// Times MaskFile in the real main window (run it with QT_QPA_PLATFORM=offscreen, or under
// a display) against the engine's scan alone on the same sprite, in one run, and reports
// how often the screen was refreshed and the longest time the window went without
// handling input during the scan.

#include "BenchSprite.h"
#include "FakeMaskWindow.h"
#include "MaskScan.h"
#include "PictureSurface.h"
#include "frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

class PaintCounter : public QObject
{
public:
    int paints = 0;
    QElapsedTimer clock;
    double lastPaint = 0, longestWithout = 0;
    void start()
    {
        paints = 0;
        lastPaint = longestWithout = 0;
        clock.start();
    }
    void finish()
    {
        longestWithout = std::max(longestWithout, clock.nsecsElapsed() / 1e6 - lastPaint);
    }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint) {
            ++paints;
            const double now = clock.nsecsElapsed() / 1e6;
            longestWithout = std::max(longestWithout, now - lastPaint);
            lastPaint = now;
        }
        return false;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    frmMain w;
    w.Form_Load();
    w.show();
    w.activateWindow();
    QCoreApplication::processEvents();

    auto *picSprite = w.findChild<PictureSurface *>(QStringLiteral("picSprite"));
    auto *picMask = w.findChild<PictureSurface *>(QStringLiteral("picMask"));
    if (!picSprite || !picMask)
        return std::fprintf(stderr, "the window has no picSprite or picMask\n"), 1;
    PaintCounter counter;
    picMask->installEventFilter(&counter);

    std::printf("%-6s %12s %12s %8s %14s\n", "size", "engine ms", "window ms", "ratio",
                "input gap ms");
    for (int size : {64, 512, 4096}) {
        const QImage sprite = benchSprite(size);
        const int reps = size >= 4096 ? 5 : (size >= 512 ? 20 : 200);

        FakeMaskWindow plain(sprite);
        plain.repaintInterval = 30;
        plain.follow = true;
        std::vector<double> engine, window;
        double gapMax = 0;
        picSprite->setPicture(sprite);
        for (int i = 0; i < reps; ++i) {
            QElapsedTimer t;
            t.start();
            MaskScan(plain, 0, 0xFFFFFF).run();
            engine.push_back(t.nsecsElapsed() / 1e6);

            // A zero timer fires at every turn of the event loop: the gaps between its
            // ticks are how long a click would have waited.
            QElapsedTimer gap;
            double worst = 0;
            QTimer tick;
            tick.setInterval(0);
            QObject::connect(&tick, &QTimer::timeout, [&] {
                worst = std::max(worst, gap.nsecsElapsed() / 1e6);
                gap.restart();
            });
            tick.start();
            gap.start();
            t.restart();
            w.MaskFile();
            const double ms = t.nsecsElapsed() / 1e6;
            tick.stop();
            window.push_back(ms);
            gapMax = std::max(gapMax, worst);
        }
        const double e = median(engine), wi = median(window);
        std::printf("%-6d %12.3f %12.3f %8.2f %14.2f\n", size, e, wi, wi / e, gapMax);
        std::fflush(stdout);
    }
    // Frames on screen need a scan long enough to show some: a sheet of 12288 x 12288.
    {
        const int size = 12288;
        picSprite->setPicture(benchSprite(size));
        QCoreApplication::processEvents();
        counter.start();
        QElapsedTimer t;
        t.start();
        w.MaskFile();
        const double ms = t.nsecsElapsed() / 1e6;
        counter.finish();
        std::printf("long scan %dx%d: %.0f ms, %d mask repaints (%.1f per second), "
                    "longest without one %.1f ms\n",
                    size, size, ms, counter.paints, counter.paints / (ms / 1000.0),
                    counter.longestWithout);
    }

    // The floor under the window's figure: the event-loop turns a 4096 x 4096 scan makes.
    {
        const int yields = int((4097LL * 4097LL) / 1000);
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < yields; ++i)
            QCoreApplication::processEvents();
        std::printf("%d bare event-loop turns: %.3f ms\n", yields, t.nsecsElapsed() / 1e6);
    }
    return 0;
}
