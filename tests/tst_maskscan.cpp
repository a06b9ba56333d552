#include "FakeMaskWindow.h"
#include "MaskScan.h"
#include "ReferenceMask.h"

#include <QTest>

class TestMaskScan : public QObject
{
    Q_OBJECT
private slots:
    void matchesColumnWalkAtEveryRefresh_data();
    void matchesColumnWalkAtEveryRefresh();
    void pixelRule_data();
    void pixelRule();
    void cancelAtRefresh_data();
    void cancelAtRefresh();
    void scrollBarsFollowTheColumn_data();
    void scrollBarsFollowTheColumn();
    void zeroWidthFails();
};

void TestMaskScan::matchesColumnWalkAtEveryRefresh_data()
{
    QTest::addColumn<QSize>("sprite");
    QTest::addColumn<QSize>("mask");
    QTest::addColumn<int>("repaintInterval");
    QTest::newRow("1x1") << QSize(1, 1) << QSize(1, 1) << 0;
    QTest::newRow("31x7") << QSize(31, 7) << QSize(31, 7) << 0;
    QTest::newRow("100x100") << QSize(100, 100) << QSize(100, 100) << 0;
    QTest::newRow("257x33") << QSize(257, 33) << QSize(257, 33) << 0;
    QTest::newRow("tall 3x1000") << QSize(3, 1000) << QSize(3, 1000) << 0;
    QTest::newRow("wide 1000x3") << QSize(1000, 3) << QSize(1000, 3) << 0;
    QTest::newRow("column of 999") << QSize(5, 998) << QSize(5, 998) << 0;
    QTest::newRow("mask smaller") << QSize(50, 40) << QSize(30, 20) << 0;
    QTest::newRow("mask larger") << QSize(40, 40) << QSize(60, 70) << 0;
    QTest::newRow("no repaint until the end") << QSize(300, 200) << QSize(300, 200) << 1000000;
}

// Whenever the mask can be seen, it is what the column walk would have left there.
void TestMaskScan::matchesColumnWalkAtEveryRefresh()
{
    QFETCH(QSize, sprite);
    QFETCH(QSize, mask);
    QFETCH(int, repaintInterval);
    const Colour t = 0x00FF00, m = 0xFF00FF;
    FakeMaskWindow w(randomSprite(sprite.width(), sprite.height(), t, 42));
    w.mask = QImage(mask, QImage::Format_RGB32);
    w.repaintInterval = repaintInterval;
    int mismatches = 0;
    w.onYield = [&](int n) {
        if (repaintInterval == 0 &&
            w.mask != referenceMask(w.sprite, mask, t, m, 999 + 1000 * qint64(n - 1)))
            ++mismatches;
    };
    const MaskScan::Result r = MaskScan(w, t, m).run();
    QCOMPARE(r.outcome, MaskScan::Result::Completed);
    QCOMPARE(mismatches, 0);
    QCOMPARE(w.mask, referenceMask(w.sprite, mask, t, m));
    QCOMPARE(w.yields, int((qint64(sprite.width() + 1) * (sprite.height() + 1)) / 1000));
    if (w.yields == 0) // no refresh point reached: nothing shown before the end
        QCOMPARE(w.status, QStringLiteral("Status: Ready"));
    QCOMPARE(r.percent, 100);
    QCOMPARE(w.barRight, 741.0f);
}

void TestMaskScan::pixelRule_data()
{
    QTest::addColumn<Colour>("sprite");
    QTest::addColumn<Colour>("t");
    QTest::addColumn<Colour>("m");
    QTest::addColumn<Colour>("expected");
    QTest::newRow("equal becomes mask colour") << 0x102030 << 0x102030 << 0xFFFFFF << 0xFFFFFF;
    QTest::newRow("one unit of red away") << 0x000001 << 0x000000 << 0xFFFFFF << 0x000000;
    QTest::newRow("same colour for both") << 0x123456 << 0x00FF00 << 0x00FF00 << 0x00FF00;
    QTest::newRow("no colour matches nothing") << 0xFFFFFF << -1 << 0x0000FF << 0xFFFFFF;
}

void TestMaskScan::pixelRule()
{
    QFETCH(Colour, sprite);
    QFETCH(Colour, t);
    QFETCH(Colour, m);
    QFETCH(Colour, expected);
    QImage img(40, 30, QImage::Format_RGB32);
    img.fill(toQRgb(sprite));
    FakeMaskWindow w(img);
    MaskScan(w, t, m).run();
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            QCOMPARE(fromQRgb(w.mask.pixel(x, y)), expected);
}

void TestMaskScan::cancelAtRefresh_data()
{
    QTest::addColumn<QSize>("sprite");
    QTest::addColumn<int>("cancelAt");
    QTest::addColumn<int>("percent");
    QTest::newRow("W=8, column 1") << QSize(8, 600) << 1 << 12;
    QTest::newRow("W=8, column 3") << QSize(8, 600) << 2 << 38;
    QTest::newRow("last refresh") << QSize(100, 100) << 10 << 99;
    QTest::newRow("refresh at a column's last pixel") << QSize(20, 999) << 3 << 10;
}

// The pixel at which the refresh happened is still done; nothing after it.
void TestMaskScan::cancelAtRefresh()
{
    QFETCH(QSize, sprite);
    QFETCH(int, cancelAt);
    QFETCH(int, percent);
    const Colour t = 0x000000, m = 0x0000FF;
    FakeMaskWindow w(randomSprite(sprite.width(), sprite.height(), t, 7));
    w.repaintInterval = 1000000;
    w.onYield = [&](int n) {
        if (n == cancelAt)
            w.cancel = true;
    };
    const MaskScan::Result r = MaskScan(w, t, m).run();
    QCOMPARE(r.outcome, MaskScan::Result::Cancelled);
    QCOMPARE(w.yields, cancelAt);
    QCOMPARE(r.percent, percent);
    QVERIFY(w.status.startsWith(QStringLiteral("Status: Cancelled(%1%, After ").arg(percent)));
    QCOMPARE(w.barRight, float(741 / 100.0 * percent));
    const qint64 done = 999 + 1000 * qint64(cancelAt - 1) + 1;
    QCOMPARE(w.mask, referenceMask(w.sprite, w.mask.size(), t, m, done));
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
    MaskScan(w, 0, 0xFFFFFF).run();
    QCOMPARE(w.maskScroll, w.spriteScroll);
    QCOMPARE(w.maskScroll.mid(0, first.size()), first);
    if (follow) {
        QCOMPARE(w.maskScroll.size() - 1 - w.maskScroll.indexOf(hMax, 1) + 1, atMax);
        QCOMPARE(w.maskScroll.last(), hMax);
    } else {
        QVERIFY(w.maskScroll.isEmpty());
    }
}

void TestMaskScan::zeroWidthFails()
{
    FakeMaskWindow w{QImage()};
    w.mask = QImage(5, 5, QImage::Format_RGB32);
    w.mask.fill(0xFFFF0000);
    const MaskScan::Result r = MaskScan(w, 0, 0xFFFFFF).run();
    QCOMPARE(r.outcome, MaskScan::Result::Failed);
    QVERIFY(r.error.has_value());
    QCOMPARE(r.error->number(), int(RunError::DivisionByZero));
    QCOMPARE(r.percent, 0);
    QCOMPARE(r.elapsed, 0.0f);
    QCOMPARE(w.mask.pixel(2, 2), 0xFFFFFFFFu); // cleared before the first pixel
}

QTEST_GUILESS_MAIN(TestMaskScan)
#include "tst_maskscan.moc"
