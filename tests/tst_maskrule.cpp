#include "MaskRule.h"
#include "MaskScan.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "TestPictures.h"

#include <QRandomGenerator>
#include <QTest>

namespace
{

// Pixels on both sides of every edge of the rule: each key moved by fuzz and fuzz + 1 in
// each channel, alphas around the threshold, and random ones.
QList<QRgb> edgePixels(const MaskRule &rule, quint32 seed)
{
    QRandomGenerator rng(seed);
    const int alphas[] = {0, rule.alpha, rule.alpha + 1, 255};
    QList<QRgb> pixels;
    for (Colour k : rule.keys)
        for (int shift : {0, 8, 16})
            for (int d : {-rule.fuzz - 1, -rule.fuzz, 0, rule.fuzz, rule.fuzz + 1}) {
                const int v = std::clamp(((k >> shift) & 0xFF) + d, 0, 255);
                const Colour c = (k & ~(0xFF << shift)) | (v << shift);
                const int a = alphas[rng.bounded(4)];
                pixels.append((toQRgb(c) & 0xFFFFFF) | (uint(std::clamp(a, 0, 255)) << 24));
            }
    for (int i = 0; i < 200; ++i)
        pixels.append(rng.generate());
    return pixels;
}

} // namespace

class TestMaskRule : public QObject
{
    Q_OBJECT
private slots:
    void againstReference_data();
    void againstReference();
    void exactRuleIsTheWindows();
    void readKeepsAlpha_data();
    void readKeepsAlpha();
};

void TestMaskRule::againstReference_data()
{
    QTest::addColumn<QList<Colour>>("keys");
    QTest::addColumn<int>("fuzz");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<Colour>("mask");
    QTest::newRow("one key, exact") << QList<Colour>{0x00FF00} << 0 << -1 << 0xFF00FF;
    QTest::newRow("three keys") << QList<Colour>{0x000000, 0xFF00FF, 0x123456} << 0 << -1
                                << 0xFFFFFF;
    QTest::newRow("fuzz 1") << QList<Colour>{0x808080} << 1 << -1 << 0x7F7F7F;
    QTest::newRow("fuzz 40, keys at the ends")
        << QList<Colour>{0x000000, 0xFFFFFF} << 40 << -1 << 0x00FF00;
    QTest::newRow("fuzz 255") << QList<Colour>{0x0000FF} << 255 << -1 << 0xFFFF00;
    QTest::newRow("alpha 0") << QList<Colour>{0x000000} << 0 << 0 << 0xFFFFFF;
    QTest::newRow("alpha 128 with keys and fuzz")
        << QList<Colour>{0x102030, 0xFEFEFE} << 3 << 128 << 0x000000;
    QTest::newRow("alpha 255") << QList<Colour>{0x000000} << 0 << 255 << 0xFFFFFF;
}

void TestMaskRule::againstReference()
{
    QFETCH(QList<Colour>, keys);
    QFETCH(int, fuzz);
    QFETCH(int, alpha);
    QFETCH(Colour, mask);
    const MaskRule rule{{keys.begin(), keys.end()}, fuzz, alpha, mask};
    const QList<QRgb> in = edgePixels(rule, quint32(fuzz * 1000 + alpha));
    const int n = int(in.size());

    QList<QRgb> out(n);
    applyRule(in.constData(), out.data(), n, rule);
    // Packed rows: three bytes (no alpha to look at) and four.
    QByteArray bgr3(3 * n, 0), bgra(4 * n, 0), out3(3 * n, 0), out4(3 * n, 0);
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < 4; ++c) {
            const uchar v = uchar(in[i] >> (8 * c)); // B, G, R, A
            bgra[4 * i + c] = char(v);
            if (c < 3)
                bgr3[3 * i + c] = char(v);
        }
    applyRuleBgr(reinterpret_cast<const uchar *>(bgr3.constData()), 3,
                 reinterpret_cast<uchar *>(out3.data()), n, rule);
    applyRuleBgr(reinterpret_cast<const uchar *>(bgra.constData()), 4,
                 reinterpret_cast<uchar *>(out4.data()), n, rule);
    for (int i = 0; i < n; ++i) {
        const QRgb want = ruleReference(in[i], rule);
        const QRgb opaque = ruleReference(in[i] | 0xFF000000u, rule);
        const auto packed = [&](const QByteArray &o) {
            return 0xFF000000u | uchar(o[3 * i]) | (uchar(o[3 * i + 1]) << 8) |
                   (uchar(o[3 * i + 2]) << 16);
        };
        QVERIFY2(
            out[i] == want && packed(out4) == want && packed(out3) == opaque,
            qPrintable(QStringLiteral("pixel %1: %2").arg(i).arg(in[i], 8, 16, QLatin1Char('0'))));
    }
}

// Without any of the new options the rule is the window's, pixel for pixel, whatever the
// unused alpha byte holds.
void TestMaskRule::exactRuleIsTheWindows()
{
    QRandomGenerator rng(7);
    for (Colour t : {Black, Colour(0x123456), White}) {
        MaskRule rule;
        rule.keys = {t};
        rule.mask = complement(t);
        QList<QRgb> in(300), viaRule(300), viaScan(300);
        for (QRgb &p : in)
            p = rng.bounded(3) ? rng.generate() : (toQRgb(t) & 0xFFFFFF) | (rng.generate() << 24);
        applyRule(in.constData(), viaRule.data(), 300, rule);
        maskSpan(in.constData(), viaScan.data(), 300, toQRgb(t), toQRgb(rule.mask), true);
        QCOMPARE(viaRule, viaScan);
    }
}

void TestMaskRule::readKeepsAlpha_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("RGBA PNG") << QImage::Format_ARGB32;
    QTest::newRow("palette PNG with transparent entries") << QImage::Format_Indexed8;
}

void TestMaskRule::readKeepsAlpha()
{
    QFETCH(QImage::Format, format);
    QImage argb(5, 3, QImage::Format_ARGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            argb.setPixel(x, y, qRgba(40 * x, 10, 90 * y, (x + y) % 3 ? 255 : 60 * x));
    const QImage sprite = argb.convertToFormat(format);
    const QByteArray png = saved(sprite, "PNG");

    const QImage kept = decodePicture(png, QStringLiteral("x.png"), PictureAlpha::Keep);
    QCOMPARE(kept.format(), QImage::Format_ARGB32);
    QCOMPARE(kept, sprite.convertToFormat(QImage::Format_ARGB32));
    // The default road still drops it.
    QCOMPARE(decodePicture(png, QStringLiteral("x.png")),
             sprite.convertToFormat(QImage::Format_RGB32));
}

QTEST_GUILESS_MAIN(TestMaskRule)
#include "tst_maskrule.moc"
