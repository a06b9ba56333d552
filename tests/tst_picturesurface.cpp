#include "PictureSurface.h"

#include <QSignalSpy>
#include <QTest>

class TestPictureSurface : public QObject
{
    Q_OBJECT
private slots:
    void pixelsInsideAndOutside_data();
    void pixelsInsideAndOutside();
    void sizeChangesAreReportedOnce();
    void mouseInDrawableCoordinates();
};

void TestPictureSurface::pixelsInsideAndOutside_data()
{
    QTest::addColumn<int>("border");
    QTest::newRow("no border") << int(PictureSurface::NoBorder);
    QTest::newRow("single") << int(PictureSurface::SingleBorder);
    QTest::newRow("sunken") << int(PictureSurface::SunkenBorder);
}

void TestPictureSurface::pixelsInsideAndOutside()
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
}

void TestPictureSurface::sizeChangesAreReportedOnce()
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
void TestPictureSurface::mouseInDrawableCoordinates()
{
    PictureSurface s(nullptr, PictureSurface::SunkenBorder);
    s.resize(50, 50);
    s.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s));
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

QTEST_MAIN(TestPictureSurface)
#include "tst_picturesurface.moc"
