#include "PictureIO.h"
#include "PictureSurface.h"
#include "ScriptedDesktop.h"
#include "TestSupport.h"
#include "frmMain.h"
#include "frmPickColor.h"
#include "modMain.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

namespace
{

QList<int> bars(const frmPickColor &d)
{
    return {d.scrRGB[0]->value(), d.scrRGB[1]->value(), d.scrRGB[2]->value()};
}

QList<int> range(const QScrollBar *b)
{
    return {b->minimum(), b->maximum(), b->singleStep(), b->pageStep(), int(b->isEnabled())};
}

} // namespace

class TestColours : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void splitsColours_data();
    void splitsColours();
    void pickerShowsTheInitialColour_data();
    void pickerShowsTheInitialColour();
    void pickerResult_data();
    void pickerResult();
    void paletteClicks_data();
    void paletteClicks();
    void paletteScrolling_data();
    void paletteScrolling();
    void maskColourFollowsTransparency();
    void eyedropper_data();
    void eyedropper();

private:
    std::unique_ptr<QTemporaryDir> m_app;
};

void TestColours::init()
{
    m_app = std::make_unique<QTemporaryDir>();
    AppPath = m_app->path() + '/'; // where palette.bmp is looked for
}

void TestColours::splitsColours_data()
{
    QTest::addColumn<int>("colour");
    QTest::addColumn<QList<int>>("rgb");
    QTest::newRow("orange") << 0x0080FF << QList<int>{255, 128, 0};
    QTest::newRow("white") << 0xFFFFFF << QList<int>{255, 255, 255};
    QTest::newRow("just too large") << 0x1000000 << QList<int>{255, 255, 255};
    QTest::newRow("negative leaves all") << -1 << QList<int>{7, 8, 9};
}

void TestColours::splitsColours()
{
    QFETCH(int, colour);
    QFETCH(QList<int>, rgb);
    qint16 r = 7, g = 8, b = 9;
    ColorToRGB(r, g, b, colour);
    QCOMPARE((QList<int>{r, g, b}), rgb);
}

void TestColours::pickerShowsTheInitialColour_data()
{
    QTest::addColumn<int>("initial");
    QTest::addColumn<QList<int>>("bars");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("colour");
    QTest::newRow("orange") << 0x0080FF << QList<int>{255, 128, 0} << "(255, 128, 0)" << 0x0080FF;
    QTest::newRow("black keeps the design text")
        << 0 << QList<int>{0, 0, 0} << "(000, 000, 000)" << 0;
    QTest::newRow("negative is black") << -7 << QList<int>{0, 0, 0} << "(000, 000, 000)" << 0;
}

void TestColours::pickerShowsTheInitialColour()
{
    QFETCH(int, initial);
    QFETCH(QList<int>, bars);
    QFETCH(QString, label);
    QFETCH(int, colour);
    frmPickColor d;
    d.SetColor(initial);
    QCOMPARE(::bars(d), bars);
    QCOMPARE(d.lblRGB->text(), label);
    QCOMPARE(d.CurrColor, colour);
    QCOMPARE(d.picColor->backColor(), colour);
}

void TestColours::pickerResult_data()
{
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("result");
    QTest::newRow("ok") << "ok" << 0x00FF00;
    QTest::newRow("cancel") << "cancel" << -1;
    QTest::newRow("escape") << "escape" << -1;
    QTest::newRow("close box") << "close" << 0x00FF00;
}

void TestColours::pickerResult()
{
    QFETCH(QString, end);
    QFETCH(int, result);
    ScriptedDesktop desk;
    frmMain w;
    QString title;
    desk.onDialog = [&](QDialog &dialog) {
        auto &d = static_cast<frmPickColor &>(dialog);
        title = d.windowTitle();
        d.scrRGB[1]->setValue(255); // a colour picked before the dialog ends
        if (end == "ok")
            d.cmdOk->click();
        else if (end == "cancel")
            d.cmdCancel->click();
        else if (end == "escape")
            QTest::keyClick(&d, Qt::Key_Escape);
        else
            d.close();
        return 0;
    };
    QCOMPARE(w.PickColor(0, QStringLiteral("Opposite Color...")), result);
    QCOMPARE(title, QStringLiteral("Opposite Color..."));
}

void TestColours::paletteClicks_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("colour");
    QTest::newRow("red swatch") << int(Qt::LeftButton) << QPoint(2 + 17 + 5, 2 + 34 + 5)
                                << 0x0000FF;
    QTest::newRow("gap between swatches") << int(Qt::LeftButton) << QPoint(17, 17) << 0;
    QTest::newRow("right button picks nothing")
        << int(Qt::RightButton) << QPoint(24, 41) << 0x123456;
}

void TestColours::paletteClicks()
{
    QFETCH(int, button);
    QFETCH(QPoint, at);
    QFETCH(int, colour);
    frmPickColor d;
    d.SetColor(0x123456);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QTest::mouseClick(d.picPalette, Qt::MouseButton(button), {}, at);
    QCOMPARE(d.CurrColor, colour);
}

void TestColours::paletteScrolling_data()
{
    QTest::addColumn<QSize>("palette"); // 0 x 0: no file; -1 x -1: a damaged one
    QTest::addColumn<QList<int>>("h");
    QTest::addColumn<QList<int>>("v");
    QTest::addColumn<QSize>("shown");
    QTest::newRow("built in") << QSize(0, 0) << QList<int>{0, 0, 1, 10, 0}
                              << QList<int>{0, 0, 1, 10, 0} << QSize(137, 103);
    QTest::newRow("300 x 200") << QSize(300, 200) << QList<int>{0, 159, 20, 40, 1}
                               << QList<int>{0, 97, 12, 24, 1} << QSize(300, 200);
    QTest::newRow("145 wide") << QSize(145, 50) << QList<int>{0, 4, 1, 1, 1}
                              << QList<int>{0, 0, 1, 10, 0} << QSize(145, 50);
    QTest::newRow("damaged") << QSize(-1, -1) << QList<int>{0, 0, 1, 10, 1}
                             << QList<int>{0, 0, 1, 10, 1} << QSize(32, 32);
}

void TestColours::paletteScrolling()
{
    QFETCH(QSize, palette);
    QFETCH(QList<int>, h);
    QFETCH(QList<int>, v);
    QFETCH(QSize, shown);
    const QString path = AppPath + "palette.bmp";
    if (!palette.isEmpty()) {
        QImage img(palette, QImage::Format_RGB32);
        img.fill(Qt::red);
        writeBmp(img, path);
    } else if (palette.width() < 0) {
        writeFile(path, "BM broken");
    }
    frmPickColor d;
    QCOMPARE(d.picPalette->image().size(), shown);
    QCOMPARE(range(d.HScrPalette), h);
    QCOMPARE(range(d.VScrPalette), v);
    d.scrRGB[2]->setValue(10); // the bars work whatever the palette
    QCOMPARE(d.CurrColor, 10 * 65536);
}

void TestColours::maskColourFollowsTransparency()
{
    ScriptedDesktop desk;
    frmMain w;
    w.SetTColor(0xFFFFFF);
    QCOMPARE(w.MColor, 0);
    w.SetMColor(0x00FF00);
    w.SetTColor(0x808080);
    QCOMPARE(w.MColor, 0x7F7F7F); // the hand-chosen one is replaced
    QCOMPARE(w.picMColor->backColor(), 0x7F7F7F);
    QCOMPARE(w.picTColor->pixel(3, 3), 0x808080);
    desk.onDialog = [](QDialog &d) {
        static_cast<frmPickColor &>(d).cmdCancel->click();
        return 0;
    };
    w.picTColor_Click(); // Cancel changes nothing
    QCOMPARE(w.TColor, 0x808080);
    QCOMPARE(w.MColor, 0x7F7F7F);
}

void TestColours::eyedropper_data()
{
    QTest::addColumn<QList<int>>("events"); // kind (0 press, 1 move), buttons, x, y; ...
    QTest::addColumn<int>("tColor");
    QTest::addColumn<int>("mColor");
    QTest::newRow("left press") << QList<int>{0, 1, 1, 0} << 0x0000FF << 0xFFFF00;
    QTest::newRow("right press") << QList<int>{0, 2, 2, 0} << 0 << 0x00FF00;
    QTest::newRow("left drag, last pixel wins")
        << QList<int>{0, 1, 0, 0, 1, 1, 1, 0, 1, 1, 2, 0} << 0x00FF00 << 0xFF00FF;
    QTest::newRow("both buttons held") << QList<int>{1, 3, 1, 0} << 0 << 0xFFFFFF;
    QTest::newRow("outside keeps the last")
        << QList<int>{0, 1, 1, 0, 1, 1, 50, -4} << 0x0000FF << 0xFFFF00;
}

void TestColours::eyedropper()
{
    QFETCH(QList<int>, events);
    QFETCH(int, tColor);
    QFETCH(int, mColor);
    frmMain w;
    QImage pic(3, 1, QImage::Format_RGB32);
    pic.setPixel(0, 0, qRgb(255, 255, 255));
    pic.setPixel(1, 0, qRgb(255, 0, 0));
    pic.setPixel(2, 0, qRgb(0, 255, 0));
    w.picSprite->setPicture(pic);
    for (int i = 0; i < events.size(); i += 4) {
        if (events[i] == 0)
            emit w.picSprite->mousePressed(events[i + 1], events[i + 2], events[i + 3]);
        else
            emit w.picSprite->mouseMoved(events[i + 1], events[i + 2], events[i + 3]);
    }
    QCOMPARE(w.TColor, tColor);
    QCOMPARE(w.MColor, mColor);
}

QTEST_MAIN(TestColours)
#include "tst_colours.moc"
