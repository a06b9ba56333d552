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

// A script is what the window tells the pacer as a run goes, in the order the run does it:
// "+N" N milliseconds pass; batch/end a Mask All; scan/done a scan; mask a refresh point's
// new mask, status its status text, yield its yield; load the next file's load; move a
// scroll bar moving its picture; ask a question; held? whether repaints are held back.
// What comes out: the time of each frame painted, "moved" when the pictures catch up with
// their bars, and the answers to held?.
void TestFramePacer::frames_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("painted");
    const QString point = " mask yield status +10";
    QTest::newRow("a scan shows its start, a frame per interval and its end")
        << "scan held?" + point.repeated(7) + " done held?"
        << "0 held 30 60 70 free";
    QTest::newRow("a batch's first refresh point at once, even right after a frame; its end always")
        << "scan done +5 batch load scan" + point + " done yield +5 end held?"
        << "0 0 5 20 free";
    // Each file a few milliseconds: frames at the interval, not at every file.
    QTest::newRow("small files") << "batch" + QString(" load scan done yield +4").repeated(10) +
                                        " end"
                                 << "0 32 40";
    // A large file: the next file's counter is on screen while it loads.
    QTest::newRow("large files") << "batch load scan" + point.repeated(4) +
                                        " done yield load +300 scan done end"
                                 << "0 30 40 340 340";
    QTest::newRow("a question paints first, the screen is free behind it")
        << "scan mask yield status +5 ask held? done"
        << "0 5 asked held 5";
    QTest::newRow("pictures follow their bars once a frame")
        << "scan move held? +40 mask yield status done move"
        << "0 held moved 40 40 moved";
}

void TestFramePacer::frames()
{
    QFETCH(QString, script);
    QFETCH(QString, painted);
    qint64 now = 0;
    QStringList got;
    FramePacer pacer({[&] { got.append(QString::number(now)); },
                      [&] {
                          QVERIFY(pacer.picturesMayMove());
                          got.append("moved");
                      }},
                     [&] { return now; });
    const QHash<QString, std::function<void()>> steps{
        {"batch", [&] { pacer.batchStarted(); }},
        {"end", [&] { pacer.batchEnded(); }},
        {"scan", [&] { pacer.scanStarted(); }},
        {"done", [&] { pacer.scanEnded(); }},
        {"mask", [&] { pacer.closeFrame(), pacer.maskChanged(); }},
        {"status", [&] { pacer.closeFrame(); }},
        {"yield", [&] { pacer.yielding(); }},
        {"load", [&] { pacer.fileLoading(); }},
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
