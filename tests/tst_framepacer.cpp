// When the window paints during a run, on a clock the test turns by hand.
#include "FramePacer.h"

#include <QHash>
#include <QTest>

#include <functional>

class TestFramePacer : public QObject
{
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
};

// A script is what the window's run tells the pacer, in the order the run does it: "+N" N
// milliseconds pass; batch/end a Mask All; scan/done a scan (which shows its start); frame a
// refresh point, which shows its view when a frame is due, as the scan does; ready a view shown if
// due (the Ready text), load one shown before the next file loads; scroll the next view orders the
// bars moved; move a scroll bar moving its picture; ask a question; held? whether repaints are held
// back. What comes out: the time of each frame painted, "bars" when a frame applies an order to
// move the bars, "moved" when the pictures catch up with their bars, and the answers to held?.
void TestFramePacer::frames_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("painted");
    QTest::newRow("a scan shows its start, a frame per interval and its end")
        << "scan held?" + QString(" frame +10").repeated(7) + " done held?"
        << "0 held 30 60 70 free";
    QTest::newRow("a batch's first frame at once; its end always")
        << "batch load scan frame +10 frame +25 ready end held?"
        << "0 35 35 free";
    // Each file a few milliseconds: frames at the interval, not at every file.
    QTest::newRow("small files") << "batch" +
                                        QString(" load scan frame done ready +4").repeated(10) +
                                        " end"
                                 << "0 32 40";
    // A large file: the next file's counter is on screen while it loads.
    QTest::newRow("large files") << "batch load scan" + QString(" frame +10").repeated(4) +
                                        " done ready load +300 scan frame done ready end"
                                 << "0 30 40 340 340";
    QTest::newRow("a question paints first, the screen is free behind it")
        << "scan frame +5 ask held? done"
        << "0 5 asked held 5";
    QTest::newRow("pictures follow their bars once a frame")
        << "scan move held? +40 frame done move"
        << "0 held moved 40 40 moved";
    // A view that replaces one no frame showed keeps its order to move the bars.
    QTest::newRow("an order to move the bars is not lost")
        << "batch load +5 scroll ready +5 ready +30 ready end"
        << "0 bars 40 40";
}

void TestFramePacer::frames()
{
    QFETCH(QString, script);
    QFETCH(QString, painted);
    qint64 now = 0;
    QStringList got;
    FramePacer pacer({[&](const RunView &v) { v.scroll ? got.append("bars") : void(); },
                      [&] { got.append(QString::number(now)); },
                      [&] {
                          QVERIFY(pacer.picturesMayMove());
                          got.append("moved");
                      }},
                     [&] { return now; });
    RunView view;
    const auto show = [&](MaskWindow::Show when) {
        pacer.show(view, when);
        view.scroll.reset();
    };
    const QHash<QString, std::function<void()>> steps{
        {"batch", [&] { pacer.batchStarted(); }},
        {"end", [&] { pacer.batchEnded(); }},
        {"scan", [&] { show(MaskWindow::Show::IfDue), pacer.scanStarted(); }},
        {"done", [&] { pacer.scanEnded(); }},
        {"frame", [&] { pacer.frameDue() ? show(MaskWindow::Show::Now) : void(); }},
        {"ready", [&] { show(MaskWindow::Show::IfDue); }},
        {"load", [&] { show(MaskWindow::Show::BeforeLoad); }},
        {"scroll", [&] { view.scroll = 7; }},
        {"move", [&] { pacer.picturesMayMove() ? got.append("moved") : void(); }},
        {"held?", [&] { got.append(pacer.holdsRepaints() ? "held" : "free"); }},
        {"ask", [&] {
             const auto released = pacer.release();
             got.append(pacer.holdsRepaints() ? "asked, held" : "asked");
         }}};
    for (const QString &step : script.split(' ', Qt::SkipEmptyParts)) {
        if (step.startsWith('+'))
            now += step.mid(1).toInt();
        else if (steps.contains(step))
            steps[step]();
        else
            QFAIL(qPrintable("unknown step " + step));
    }
    QCOMPARE(got.join(' '), painted);
}

QTEST_MAIN(TestFramePacer)
#include "tst_framepacer.moc"
