#include "SourceTesting.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

namespace
{

// Edges, gradients and noise, so every DCT coefficient and both chroma planes matter.
QImage photo(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(w * 1000 + h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, (colour((x / 3 + y / 5) % 15) ^ rng.bounded(24)) + (x * 4 + y) % 40);
    return img;
}

const QByteArray Sos("\xFF\xDA"), Sof0("\xFF\xC0"), Sof2("\xFF\xC2");

} // namespace

class TestJpegSource : public QObject
{
    Q_OBJECT
private slots:
    void matchesQt_data();
    void matchesQt();
    void damage_data();
    void damage();
    void fileShrinkingWhileRead();
};

// The window showed JPEGs through Qt's plugin; the source must give the same pixels.
void TestJpegSource::matchesQt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    for (const QSize size : {QSize(1, 1), QSize(17, 9), QSize(37, 23)})
        for (const int quality : {10, 50, 75, 100})
            for (const bool progressive : {false, true})
                QTest::addRow("qt %dx%d q%d%s", size.width(), size.height(), quality,
                              progressive ? " progressive" : "")
                    << saved(photo(size.width(), size.height()), "JPG", quality, progressive);
    QTest::newRow("qt grey") << saved(photo(37, 23).convertToFormat(QImage::Format_Grayscale8),
                                      "JPG", 80);
    // ImageMagick, OpenCV, and libjpeg's own encoder for what neither writes.
    for (const QString &name : QDir(QFINDTESTDATA("data/jpeg")).entryList({"*.jpg"}))
        QTest::newRow(qPrintable(name)) << testData("jpeg/" + name);
}

void TestJpegSource::matchesQt()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!bytes.isEmpty());
    const QImage expected = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!expected.isNull());
    QCOMPARE(decodePicture(bytes, QStringLiteral("m.jpg")), expected);
    InputFile in(bytes, QStringLiteral("b.jpg"));
    const std::unique_ptr<PictureSource> source = openPicture(in, in.path());
    QVERIFY(!source->hasAlpha() && !source->interlaced() && !source->reversible());
    const QImage opaque = expected.convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(readBands(bytes, in.path(), RowLayout::Bgr24, 7, false), opaque);
    QCOMPARE(readBands(bytes, in.path(), RowLayout::Bgra32, 1), opaque);
    QCOMPARE(readBands(bytes, in.path(), RowLayout::Bgrx32, 1 << 20), opaque);
}

void TestJpegSource::damage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("number"); // 0: accepted
    QTest::addColumn<QString>("why");
    const QByteArray base = saved(photo(64, 48), "JPG", 90),
                     prog = saved(photo(64, 48), "JPG", 90, true);
    const QByteArray arith = testData("jpeg/libjpeg-arithmetic.jpg");
    const QByteArray flat = testData("jpeg/libjpeg-arithmetic-flat-1024.jpg");
    const QByteArray scans = testData("jpeg/libjpeg-three-scans.jpg");
    const QByteArray restart = testData("jpeg/cv-restart-1.jpg");
    const qsizetype sof = base.indexOf(Sof0), mid = (base.lastIndexOf(Sos) + base.size()) / 2;
    const int damaged = RunError::DamagedPicture, invalid = RunError::InvalidPicture;
    const QString early = QStringLiteral("(Premature end of JPEG file)");
    const QString segment = QStringLiteral("(Corrupt JPEG data: premature end of data segment)");
    QTest::newRow("progressive cut between scans")
        << prog.left(prog.lastIndexOf(Sos)) << damaged << early;
    QTest::newRow("progressive cut in a scan") << prog.chopped(30) << damaged << segment;
    // Every scan of this one sends its coefficients whole: a cut before the last leaves the
    // first three complete, and only the third component's AC coefficients missing.
    const QByteArray bands = testData("jpeg/libjpeg-bands-whole.jpg");
    QTest::newRow("progressive cut before its last component's scan")
        << bands.left(bands.lastIndexOf(Sos)) << damaged << early;
    QTest::newRow("baseline cut in its scan") << base.left(mid) << damaged << segment;
    QTest::newRow("cut in a header") << base.left(sof + 6) << damaged << early;
    // Sixteen one bits in a row are no Huffman code.
    QTest::newRow("one bits in the scan")
        << QByteArray(base).replace(mid, 24, QByteArray("\xFF\0", 2).repeated(12)) << damaged
        << "bad Huffman code";
    QTest::newRow("restart marker out of turn")
        << with(restart, restart.indexOf("\xFF\xD0") + 1, 0xD3, 1) << damaged
        << "found marker 0xd3 instead of RST0";
    QTest::newRow("bytes before the end marker")
        << base.chopped(2) + QByteArray("\x12\x34").repeated(4) + "\xFF\xD9" << damaged
        << "extraneous bytes";
    // Without the end marker (accepted files lack only that), the pixels are whole if the data was:
    // libjpeg needed no bit past the end of a single scan, or a progressive file brought every
    // coefficient down to its last bit.
    QTest::newRow("baseline without end marker") << base.chopped(2) << 0 << QString();
    QTest::newRow("progressive without end marker") << prog.chopped(2) << 0 << QString();
    // Arithmetic decoding reads past its data by design, and a missing sequential scan
    // leaves no trace: neither can be told from a cut, so both are refused.
    QTest::newRow("arithmetic without end marker") << arith.chopped(2) << damaged << early;
    QTest::newRow("flat arithmetic cut, over the bound per byte")
        << flat.chopped(3) << damaged << segment;
    // Cut and closed with an end marker: the lost pixels would be made up from zeros.
    const QByteArray arithProg = testData("jpeg/libjpeg-arithmetic-progressive.jpg");
    for (const int percent : {50, 90})
        QTest::addRow("arithmetic cut to %d %%, end marker added", percent)
            << arith.left(arith.size() * percent / 100) + "\xFF\xD9" << damaged << segment;
    QTest::newRow("progressive arithmetic cut in its last scan, end marker added")
        << arithProg.left(arithProg.size() * 9 / 10) + "\xFF\xD9" << damaged << segment;
    QTest::newRow("sequential scans, the last missing")
        << scans.left(scans.lastIndexOf(Sos)) << damaged << early;
    QTest::newRow("width 0") << with(base, sof + 7, 0, 2) << invalid << "(0 x 48 pixels)";
    QTest::newRow("12-bit samples") << with(base, sof + 4, 12, 1) << invalid << "precision 12";
    QTest::newRow("lossless") << with(base, sof + 1, 0xC3, 1) << invalid << "SOF type 0xc3";
    // A progressive file is decoded into libjpeg's coefficients for the whole picture: one
    // of a few KB that declares 16384 x 16384 is refused before either they or the picture
    // are allocated, and so is one padded out to pass the bound per byte.
    const QByteArray huge = with(prog, prog.indexOf(Sof2) + 5, 0x00400040);
    QTest::newRow("16384 x 16384 in a few KB") << huge << damaged << "more than its";
    QTest::newRow("16384 x 16384, padded")
        << huge + QByteArray(300 << 10, '\0') << int(RunError::OutOfMemory) << "needs more memory";
}

void TestJpegSource::damage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, number);
    QFETCH(QString, why);
    QImage got;
    VERIFY_ERROR(number, why, [&] { got = decodePicture(bytes, QStringLiteral("d.jpg")); });
    if (number == 0)
        QCOMPARE(got, QImage::fromData(bytes + "\xFF\xD9").convertToFormat(QImage::Format_RGB32));
}

// The file loses its end while libjpeg reads it: the read's failure comes out of libjpeg's
// frames as a RunError, not as an exception through them.
void TestJpegSource::fileShrinkingWhileRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shrinks.jpg"));
    const QByteArray bytes = saved(photo(600, 400), "JPG", 100, true);
    QVERIFY(bytes.size() > 3 * 65536);
    writeFile(path, bytes);
    InputFile::setReadHook([](const QString &p, qint64) { QFile::resize(p, 70000); });
    QString message;
    const int number = errorOf([&] { readPicture(path); }, &message);
    InputFile::setReadHook({});
    QCOMPARE(number, int(RunError::DamagedPicture));
    QVERIFY2(message.contains(QLatin1String("changed")), qPrintable(message));
}

QTEST_GUILESS_MAIN(TestJpegSource)
#include "tst_jpegsource.moc"
