#include "FakeMaskWindow.h"
#include "MaskRule.h"
#include "MaskScan.h"
#include "ReferenceMask.h"
#include "Rounding.h"
#include "TestPictures.h"

#include <QTest>
#include <QThread>

class TestMaskScan : public QObject
{
    Q_OBJECT
private slots:
    void matchesColumnWalkAtEveryRefresh_data();
    void matchesColumnWalkAtEveryRefresh();
    void scrollBarsFollowTheColumn_data();
    void scrollBarsFollowTheColumn();
    void statusFollowsTheSeconds();
    void zeroWidthFails();
    void ruleAgainstReference_data();
    void ruleAgainstReference();
};

// Whenever the mask can be seen, it is what the column walk would have left there; a run
// cancelled at a refresh has done the pixel at which the refresh happened, and nothing after.
void TestMaskScan::matchesColumnWalkAtEveryRefresh_data()
{
    QTest::addColumn<QSize>("sprite");
    QTest::addColumn<QSize>("mask");
    QTest::addColumn<int>("repaintInterval");
    QTest::addColumn<Colour>("t");
    QTest::addColumn<Colour>("m");
    QTest::addColumn<int>("cancelAt"); // the refresh that cancels; 0 none
    QTest::addColumn<int>("percent");
    const Colour t = 0x00FF00, m = 0xFF00FF;
    const int never = 1000000;
    QTest::newRow("1x1") << QSize(1, 1) << QSize(1, 1) << 0 << t << m << 0 << 100;
    QTest::newRow("257x33") << QSize(257, 33) << QSize(257, 33) << 0 << t << m << 0 << 100;
    QTest::newRow("column of 999") << QSize(5, 998) << QSize(5, 998) << 0 << t << m << 0 << 100;
    QTest::newRow("mask smaller") << QSize(50, 40) << QSize(30, 20) << 0 << t << m << 0 << 100;
    QTest::newRow("mask larger") << QSize(40, 40) << QSize(60, 70) << 0 << t << m << 0 << 100;
    QTest::newRow("no repaint until the end")
        << QSize(300, 200) << QSize(300, 200) << never << t << m << 0 << 100;
    QTest::newRow("same colour for both")
        << QSize(31, 7) << QSize(31, 7) << 0 << t << t << 0 << 100;
    QTest::newRow("no colour matches nothing")
        << QSize(31, 7) << QSize(31, 7) << 0 << -1 << m << 0 << 100;
    QTest::newRow("cancel: W=8, column 3")
        << QSize(8, 600) << QSize(8, 600) << never << 0 << 0xFF << 2 << 38;
    QTest::newRow("cancel: last refresh")
        << QSize(100, 100) << QSize(100, 100) << never << 0 << 0xFF << 10 << 99;
    QTest::newRow("cancel: refresh at a column's last pixel")
        << QSize(20, 999) << QSize(20, 999) << never << 0 << 0xFF << 3 << 10;
    QTest::newRow("cancelled before the first pixel")
        << QSize(20, 999) << QSize(20, 999) << 0 << 0 << 0xFF << -1 << 0;
}

void TestMaskScan::matchesColumnWalkAtEveryRefresh()
{
    QFETCH(QSize, sprite);
    QFETCH(QSize, mask);
    QFETCH(int, repaintInterval);
    QFETCH(Colour, t);
    QFETCH(Colour, m);
    QFETCH(int, cancelAt);
    QFETCH(int, percent);
    FakeMaskWindow w(randomSprite(sprite.width(), sprite.height(), t == NoColour ? 0 : t, 42));
    w.mask = QImage(mask, QImage::Format_RGB32);
    w.repaintInterval = repaintInterval;
    int mismatches = 0, frames = 0;
    w.cancel = cancelAt < 0;
    w.onYield = [&](int n) { w.cancel = n == cancelAt; };
    // A frame shows the mask of its own refresh point, and the bar and status of that point.
    w.onShow = [&](const RunView &v) {
        if (!v.status.startsWith("Status: Masking("))
            return;
        ++frames;
        const qint64 k = 999 + 1000 * qint64(w.yields - 1);
        mismatches += w.mask != referenceMask(w.sprite, mask, t, m, k);
        const int p =
            roundHalfEven(double(int((k - 1) / (sprite.height() + 1)) * 100) / sprite.width());
        mismatches += v.percent != std::optional<int>(p) ||
                      !v.status.startsWith(QStringLiteral("Status: Masking(%1%, ").arg(p));
    };
    RunView view;
    const MaskScan::Result r = MaskScan(w, t, m, view).run();
    QCOMPARE(mismatches, 0);
    if (repaintInterval == 0)
        QCOMPARE(frames, w.yields - (cancelAt > 0 ? 1 : 0));
    QCOMPARE(r.percent, percent);
    QCOMPARE(view.percent.value_or(-1), percent);
    if (cancelAt != 0) {
        QCOMPARE(w.barRight, float(741 / 100.0 * percent));
        QCOMPARE(r.outcome, MaskScan::Result::Cancelled);
        QCOMPARE(w.yields, std::max(cancelAt, 0));
        QVERIFY(w.status.startsWith(QStringLiteral("Status: Cancelled(%1%, After ").arg(percent)));
        const qint64 done = cancelAt < 0 ? 1 : 999 + 1000 * qint64(cancelAt - 1) + 1;
        QCOMPARE(w.mask, referenceMask(w.sprite, mask, t, m, done));
        return;
    }
    QCOMPARE(r.outcome, MaskScan::Result::Completed);
    QCOMPARE(w.mask, referenceMask(w.sprite, mask, t, m));
    QCOMPARE(w.yields, int((qint64(sprite.width() + 1) * (sprite.height() + 1)) / 1000));
    if (w.yields == 0) // no refresh point reached: nothing shown before the end
        QCOMPARE(w.status, QStringLiteral("Status: Ready"));
}

void TestMaskScan::scrollBarsFollowTheColumn_data()
{
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("hMax");
    QTest::addColumn<QList<int>>("first");
    QTest::addColumn<int>("atMax");
    // 1000 counted rows: refresh i comes in column i. s = i - 170.5, ties to even.
    QTest::newRow("off") << false << 0 << QList<int>{} << 0;
    // From column 170 on s rounds to 0 >= Hmax: the bars are set to their maximum, 0.
    QTest::newRow("no overhang") << true << 0 << QList<int>{0, 0, 0} << 31;
    QTest::newRow("overhang 20") << true << 20 << QList<int>{0, 2, 2, 4, 4, 6} << 11;
}

void TestMaskScan::scrollBarsFollowTheColumn()
{
    QFETCH(bool, follow);
    QFETCH(int, hMax);
    QFETCH(QList<int>, first);
    QFETCH(int, atMax);
    FakeMaskWindow w(QImage(200, 999, QImage::Format_RGB32));
    w.follow = follow;
    w.hMax = hMax;
    RunView view;
    MaskScan(w, 0, 0xFFFFFF, view).run();
    // The last order comes with the run's Ready text.
    if (view.scroll)
        w.scroll.append(std::min(*view.scroll, hMax));
    QCOMPARE(w.scroll.mid(0, first.size()), first);
    QCOMPARE(w.scroll.isEmpty(), !follow);
    if (follow) {
        QCOMPARE(w.scroll.size() - 1 - w.scroll.indexOf(hMax, 1) + 1, atMax);
        QCOMPARE(w.scroll.last(), hMax);
    }
}

// A sprite one column wide stays at 0 % all through; the status line still counts the seconds.
void TestMaskScan::statusFollowsTheSeconds()
{
    FakeMaskWindow w(randomSprite(1, 3000, 0, 7));
    w.mask = QImage(1, 3000, QImage::Format_RGB32);
    QString before, after;
    w.onYield = [&](int n) {
        if (n == 2) {
            before = w.status;
            QThread::msleep(700);
        } else if (n == 3) {
            after = w.status;
        }
    };
    QCOMPARE(MaskScan(w, 0, 0xFF).run().outcome, MaskScan::Result::Completed);
    QVERIFY2(before.startsWith(QStringLiteral("Status: Masking(0%, ")), qPrintable(before));
    QVERIFY2(after.startsWith(QStringLiteral("Status: Masking(0%, ")), qPrintable(after));
    QVERIFY2(after != before, qPrintable(after));
}

void TestMaskScan::zeroWidthFails()
{
    FakeMaskWindow w{QImage()};
    w.mask = QImage(5, 5, QImage::Format_RGB32);
    w.mask.fill(0xFFFF0000);
    const MaskScan::Result r = MaskScan(w, 0, 0xFFFFFF).run();
    QCOMPARE(r.outcome, MaskScan::Result::Failed);
    QCOMPARE(r.error.value().number(), int(RunError::DivisionByZero));
    QCOMPARE(r.percent, 0);
    QCOMPARE(w.mask.pixel(2, 2), 0xFFFFFFFFu); // cleared before the first pixel
}

void TestMaskScan::ruleAgainstReference_data()
{
    QTest::addColumn<QList<Colour>>("keys");
    QTest::addColumn<int>("fuzz");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<Colour>("mask");
    // One key, no fuzz, no alpha: the window's own rule, which its scan applies too.
    QTest::newRow("one key, exact") << QList<Colour>{0x00FF00} << 0 << -1 << 0xFF00FF;
    QTest::newRow("black, exact") << QList<Colour>{Black} << 0 << -1 << White;
    QTest::newRow("white, exact") << QList<Colour>{White} << 0 << -1 << Black;
    QTest::newRow("three keys") << QList<Colour>{0x000000, 0xFF00FF, 0x123456} << 0 << -1
                                << 0xFFFFFF;
    QTest::newRow("fuzz 40, keys at the ends")
        << QList<Colour>{0x000000, 0xFFFFFF} << 40 << -1 << 0x00FF00;
    QTest::newRow("fuzz 255") << QList<Colour>{0x0000FF} << 255 << -1 << 0xFFFF00;
    QTest::newRow("alpha 0") << QList<Colour>{0x000000} << 0 << 0 << 0xFFFFFF;
    QTest::newRow("alpha 128 with keys and fuzz")
        << QList<Colour>{0x102030, 0xFEFEFE} << 3 << 128 << 0x000000;
    QTest::newRow("alpha 255") << QList<Colour>{0x000000} << 0 << 255 << 0xFFFFFF;
}

void TestMaskScan::ruleAgainstReference()
{
    QFETCH(QList<Colour>, keys);
    QFETCH(int, fuzz);
    QFETCH(int, alpha);
    QFETCH(Colour, mask);
    const MaskRule rule{{keys.begin(), keys.end()}, fuzz, alpha, mask};
    const QList<QRgb> in = edgePixels(rule, quint32(fuzz * 1000 + alpha));
    const int n = int(in.size());
    // Packed rows too: three bytes (no alpha to look at) and four, B, G, R (, A).
    QList<QRgb> out(n), want, opaque;
    QByteArray bgr3, bgra, out3(3 * n, 0), out4(3 * n, 0);
    for (QRgb p : in) {
        put(bgr3, p, 3), put(bgra, p, 4);
        want.append(ruleReference(p, rule));
        opaque.append(ruleReference(p | 0xFF000000u, rule));
    }
    applyRule(in.constData(), out.data(), n, rule);
    applyRuleBgr(reinterpret_cast<const uchar *>(bgr3.constData()), 3,
                 reinterpret_cast<uchar *>(out3.data()), n, rule);
    applyRuleBgr(reinterpret_cast<const uchar *>(bgra.constData()), 4,
                 reinterpret_cast<uchar *>(out4.data()), n, rule);
    const auto unpacked = [n](const QByteArray &o) {
        QList<QRgb> px;
        for (int i = 0; i < n; ++i)
            px.append(qRgb(uchar(o[3 * i + 2]), uchar(o[3 * i + 1]), uchar(o[3 * i])));
        return px;
    };
    QCOMPARE(out, want);
    QCOMPARE(unpacked(out4), want);
    QCOMPARE(unpacked(out3), opaque);
    if (keys.size() == 1 && fuzz == 0 && alpha < 0) {
        maskSpan(in.constData(), out.data(), n, toQRgb(keys[0]), toQRgb(mask), true);
        QCOMPARE(out, want);
    }
}

QTEST_GUILESS_MAIN(TestMaskScan)
#include "tst_maskscan.moc"
