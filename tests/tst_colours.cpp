// The colour swatches, picker and eyedropper, and the picture surfaces they are drawn on.
#include "PictureIO.h"
#include "TestSupport.h"
#include "frmPickColor.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>

namespace
{

QList<int> bars(const frmPickColor &d)
{
    return {d.scrRGB[0]->value(), d.scrRGB[1]->value(), d.scrRGB[2]->value()};
}

} // namespace

class TestColours : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void pickerResult_data();
    void pickerResult();
    void paletteClicks();
    void paletteScrolling_data();
    void paletteScrolling();
    void maskColourFollowsTransparency();
    void eyedropper_data();
    void eyedropper();
    void pixelsInsideAndOutside_data();
    void pixelsInsideAndOutside();
    void sizeChangesAreReportedOnce();
    void mouseInDrawableCoordinates();

private:
    std::unique_ptr<QTemporaryDir> m_app;
};

void TestColours::init()
{
    m_app = std::make_unique<QTemporaryDir>();
    AppPath = m_app->path() + '/'; // where palette.bmp is looked for
}

void TestColours::pickerResult_data()
{
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("result");
    QTest::newRow("ok") << "ok" << 0x00FFFF;
    QTest::newRow("cancel") << "cancel" << -1;
    QTest::newRow("escape") << "escape" << -1;
    QTest::newRow("close box") << "close" << 0x00FFFF;
}

void TestColours::pickerResult()
{
    QFETCH(QString, end);
    QFETCH(int, result);
    ScriptedDesktop desk;
    frmMain w;
    QString title, label;
    QList<int> shown;
    desk.onDialog = [&](QDialog &dialog) {
        auto &d = static_cast<frmPickColor &>(dialog);
        title = d.windowTitle();
        shown = bars(d);
        label = d.lblRGB->text();
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
    QCOMPARE(w.PickColor(0x0080FF, QStringLiteral("Opposite Color...")), result);
    QCOMPARE(title, QStringLiteral("Opposite Color..."));
    QCOMPARE(shown, (QList<int>{255, 128, 0})); // the bars and label start at the given colour
    QCOMPARE(label, QStringLiteral("(255, 128, 0)"));
    frmPickColor d;
    d.SetColor(-7); // a negative colour is black
    QCOMPARE(bars(d), (QList<int>{0, 0, 0}));
    QCOMPARE(d.lblRGB->text(), QStringLiteral("(000, 000, 000)"));
    QCOMPARE(d.picColor->backColor(), 0);
}

// A left click on a swatch picks its colour; the right button picks nothing.
void TestColours::paletteClicks()
{
    frmPickColor d;
    d.SetColor(0x123456);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d, 120000));
    QTest::mouseClick(d.picPalette, Qt::RightButton, {}, QPoint(24, 41));
    QCOMPARE(d.CurrColor, 0x123456);
    QTest::mouseClick(d.picPalette, Qt::LeftButton, {}, QPoint(24, 41)); // the red swatch
    QCOMPARE(d.CurrColor, 0x0000FF);
}

// palette.bmp beside the program replaces the built-in palette and scrolls when larger than
// its pane; a damaged one is not fatal.
void TestColours::paletteScrolling_data()
{
    QTest::addColumn<QSize>("palette"); // 0 x 0: no file; -1 x -1: a damaged one
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<int>("hMax");
    QTest::newRow("built in") << QSize(0, 0) << QSize(137, 103) << 0;
    QTest::newRow("300 x 200") << QSize(300, 200) << QSize(300, 200) << 159;
    QTest::newRow("damaged") << QSize(-1, -1) << QSize(32, 32) << 0;
}

void TestColours::paletteScrolling()
{
    QFETCH(QSize, palette);
    QFETCH(QSize, shown);
    QFETCH(int, hMax);
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
    QCOMPARE(d.HScrPalette->maximum(), hMax);
    d.scrRGB[2]->setValue(10); // the bars work whatever the palette
    QCOMPARE(d.CurrColor, 10 * 65536);
}

void TestColours::maskColourFollowsTransparency()
{
    ScriptedDesktop desk;
    frmMain w;
    auto *tSwatch = control<PictureSurface>(w, "picTColor");
    auto *mSwatch = control<PictureSurface>(w, "picMColor");
    w.SetTColor(0xFFFFFF);
    QCOMPARE(mSwatch->backColor(), 0);
    w.SetMColor(0x00FF00);
    w.SetTColor(0x808080);
    QCOMPARE(mSwatch->backColor(), 0x7F7F7F); // the hand-chosen one is replaced
    QCOMPARE(tSwatch->pixel(3, 3), 0x808080);
    desk.onDialog = [](QDialog &d) {
        static_cast<frmPickColor &>(d).cmdCancel->click();
        return 0;
    };
    w.picTColor_Click(); // Cancel changes nothing
    QCOMPARE(tSwatch->backColor(), 0x808080);
    QCOMPARE(mSwatch->backColor(), 0x7F7F7F);
}

void TestColours::eyedropper_data()
{
    QTest::addColumn<QList<int>>("events"); // kind (0 press, 1 move), buttons, x, y; ...
    QTest::addColumn<bool>("duringRun");
    QTest::addColumn<int>("tColor");
    QTest::addColumn<int>("mColor");
    QTest::newRow("left press") << QList<int>{0, 1, 1, 0} << false << 0x0000FF << 0xFFFF00;
    QTest::newRow("right press") << QList<int>{0, 2, 2, 0} << false << 0 << 0x00FF00;
    QTest::newRow("left drag, last pixel wins")
        << QList<int>{0, 1, 0, 0, 1, 1, 1, 0, 1, 1, 2, 0} << false << 0x00FF00 << 0xFF00FF;
    QTest::newRow("both buttons held") << QList<int>{1, 3, 1, 0} << false << 0 << 0xFFFFFF;
    QTest::newRow("outside keeps the last")
        << QList<int>{0, 1, 1, 0, 1, 1, 50, -4} << false << 0x0000FF << 0xFFFF00;
    QTest::newRow("during a run, nothing")
        << QList<int>{0, 1, 1, 0, 0, 2, 2, 0} << true << 0 << 0xFFFFFF;
}

void TestColours::eyedropper()
{
    QFETCH(QList<int>, events);
    QFETCH(bool, duringRun);
    QFETCH(int, tColor);
    QFETCH(int, mColor);
    frmMain w;
    QImage picture(200, 200, QImage::Format_RGB32); // large enough for a scan to yield
    picture.fill(Qt::black);
    const QRgb pixels[] = {0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00}; // white, red, green
    for (int x = 0; x < 3; ++x)
        picture.setPixel(x, 0, pixels[x]);
    auto *sprite = control<PictureSurface>(w, "picSprite");
    sprite->setPicture(picture);
    const auto pick = [&] {
        for (int i = 0; i < events.size(); i += 4) {
            if (events[i] == 0)
                emit sprite->mousePressed(events[i + 1], events[i + 2], events[i + 3]);
            else
                emit sprite->mouseMoved(events[i + 1], events[i + 2], events[i + 3]);
        }
    };
    bool picked = false;
    if (duringRun) {
        QTimer::singleShot(0, &w, [&] { pick(), picked = true; });
        w.MaskFile();
        QVERIFY(picked);
    } else {
        pick();
    }
    QCOMPARE(control<PictureSurface>(w, "picTColor")->backColor(), tColor);
    QCOMPARE(control<PictureSurface>(w, "picMColor")->backColor(), mColor);
}

void TestColours::pixelsInsideAndOutside_data()
{
    QTest::addColumn<int>("border");
    QTest::newRow("no border") << int(PictureSurface::NoBorder);
    QTest::newRow("single") << int(PictureSurface::SingleBorder);
    QTest::newRow("sunken") << int(PictureSurface::SunkenBorder);
}

void TestColours::pixelsInsideAndOutside()
{
    QFETCH(int, border);
    PictureSurface s(nullptr, PictureSurface::Border(border), 0x00FF00);
    s.place(QRect(0, 0, 30, 20));
    const int frame = 2 * s.frameWidth();
    QCOMPARE(s.drawableWidth(), double(30 - frame));
    QCOMPARE(s.image().size(), QSize(30 - frame, 20 - frame));
    QCOMPARE(s.pixel(0, 0), Colour(0x00FF00));
    s.setPixel(3, 4, 0x0000FF);
    QCOMPARE(s.pixel(3, 4), Colour(0x0000FF));
    for (const QPoint p :
         {QPoint(-1, 0), QPoint(0, -1), QPoint(30 - frame, 0), QPoint(0, 20 - frame)}) {
        QCOMPARE(s.pixel(p.x(), p.y()), NoColour);
        s.setPixel(p.x(), p.y(), 0x123456); // dropped, and nothing breaks
    }
    s.fillRect(QRect(-5, -5, 8, 8), 0xFF0000);
    QCOMPARE(s.pixel(2, 2), Colour(0xFF0000));
    QCOMPARE(s.pixel(3, 3), Colour(0x00FF00));
    s.setBackColor(0x111111);
    QCOMPARE(s.pixel(3, 4), Colour(0x111111));
    // A smaller picture leaves none of the one before around it.
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    s.setPicture(red);
    s.setPicture(red.copy(0, 0, 2, 2));
    QCOMPARE(s.pixel(1, 1), Colour(0x0000FF));
    QCOMPARE(s.pixel(2, 2), Colour(0x111111));
}

void TestColours::sizeChangesAreReportedOnce()
{
    PictureSurface s(nullptr, PictureSurface::NoBorder, 0);
    s.setAutoSize(true);
    s.place(QRect(0, 0, 97, 97));
    QSignalSpy spy(&s, &PictureSurface::sizeChanged);
    QImage pic(120, 80, QImage::Format_ARGB32);
    pic.fill(qRgba(1, 2, 3, 0));
    s.setPicture(pic);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(s.size(), QSize(120, 80));
    QCOMPARE(s.image().format(), QImage::Format_RGB32);
    QCOMPARE(s.pixel(0, 0), Colour(0x030201));
    s.setPicture(pic); // same size: no notice
    QCOMPARE(spy.count(), 1);
    s.setDrawableSize(QSize(10, 10));
    QCOMPARE(spy.count(), 2);
}

// Buttons come as 1, 2 and 4, points inside the border.
void TestColours::mouseInDrawableCoordinates()
{
    PictureSurface s(nullptr, PictureSurface::SunkenBorder);
    s.resize(50, 50);
    s.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s, 120000));
    QSignalSpy pressed(&s, &PictureSurface::mousePressed);
    QSignalSpy released(&s, &PictureSurface::mouseReleased);
    for (const Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(&s, b, {}, QPoint(12, 7));
        QTest::mouseRelease(&s, b, {}, QPoint(12, 7));
    }
    const QList<QVariantList> want{{1, 10, 5}, {2, 10, 5}, {4, 10, 5}};
    QCOMPARE(QList<QVariantList>(pressed), want);
    QCOMPARE(QList<QVariantList>(released), want);
}

QTEST_MAIN(TestColours)
#include "tst_colours.moc"
