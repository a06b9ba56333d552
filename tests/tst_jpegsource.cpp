#include "PictureIO.h"
#include "PictureSource.h"
#include "RunError.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QBuffer>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
#endif

namespace
{

std::atomic<size_t> g_largestAllocation{0};

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

QByteArray qtJpeg(const QImage &img, int quality, bool progressive = false)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(img);
    return buffer.data();
}

QByteArray committed(const char *name)
{
    return readFile(QFINDTESTDATA(QStringLiteral("data/jpeg/") + QLatin1String(name)));
}

// The picture through the source's bands of at most `maxRows` rows, each band checked:
// whole rows, top-down, as the source says it hands them out. As Format_ARGB32, so a
// fourth byte other than 0xFF shows.
QImage viaBands(const QByteArray &bytes, RowLayout layout, int maxRows)
{
    InputFile in(bytes, QStringLiteral("b.jpg"));
    const std::unique_ptr<PictureSource> source = openPicture(in, in.path());
    if (source->hasAlpha() || source->interlaced() || source->reversible())
        return {};
    source->start(layout, false);
    QImage img(source->width(), source->height(),
               layout == RowLayout::Bgr24    ? QImage::Format_BGR888
               : layout == RowLayout::Bgra32 ? QImage::Format_ARGB32
                                             : QImage::Format_RGB32);
    int next = 0;
    for (Band band; (band = source->nextBand(maxRows)).rows > 0; next += band.rows) {
        if (!source->topDown() || band.y0 != next || band.dy != 1 || !band.wholeRows(img.width()))
            return {};
        source->readBand(img.scanLine(next), img.bytesPerLine());
    }
    source->finish();
    return next == img.height() ? img.convertToFormat(QImage::Format_ARGB32) : QImage();
}

int errorOf(const std::function<void()> &f, QString *message = nullptr)
{
    try {
        f();
    } catch (const RunError &e) {
        if (message)
            *message = e.description();
        return e.number();
    }
    return 0;
}

QByteArray replaced(QByteArray b, qsizetype at, const QByteArray &with)
{
    return b.replace(at, with.size(), with);
}

const QByteArray Sos("\xFF\xDA"), Sof0("\xFF\xC0"), Sof2("\xFF\xC2");

} // namespace

class TestJpegSource : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void matchesQt_data();
    void matchesQt();
    void damage_data();
    void damage();
    void allocatesLittleForHugeClaims();
    void fileShrinkingWhileRead();

private:
    QTemporaryDir m_dir;
};

void TestJpegSource::initTestCase()
{
    QVERIFY(m_dir.isValid());
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_install_malloc_and_free_hooks(
        [](const volatile void *, size_t size) {
            size_t seen = g_largestAllocation.load();
            while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {
            }
        },
        [](const volatile void *) {});
#endif
}

// The window showed JPEGs through Qt's plugin; the source must give the same pixels.
void TestJpegSource::matchesQt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    for (const QSize size : {QSize(1, 1), QSize(17, 9), QSize(37, 23)})
        for (const int quality : {10, 50, 75, 100})
            for (const bool progressive : {false, true})
                QTest::addRow("qt %dx%d q%d%s", size.width(), size.height(), quality,
                              progressive ? " progressive" : "")
                    << qtJpeg(photo(size.width(), size.height()), quality, progressive);
    QTest::newRow("qt grey") << qtJpeg(photo(37, 23).convertToFormat(QImage::Format_Grayscale8),
                                       80);
    // ImageMagick, OpenCV, and libjpeg's own encoder for what neither writes.
    for (const char *name :
         {"im-444-progressive.jpg", "im-422.jpg", "im-440-progressive.jpg", "im-411.jpg",
          "im-grey-progressive.jpg", "im-cmyk.jpg", "im-cmyk-progressive.jpg", "cv-restart-1.jpg",
          "cv-restart-3-progressive.jpg", "libjpeg-arithmetic.jpg",
          "libjpeg-arithmetic-progressive.jpg", "libjpeg-ycck.jpg", "libjpeg-rgb.jpg",
          "libjpeg-three-scans.jpg", "libjpeg-arithmetic-flat-1024.jpg"})
        QTest::newRow(name) << committed(name);
}

void TestJpegSource::matchesQt()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!bytes.isEmpty());
    const QImage expected = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!expected.isNull());
    QCOMPARE(decodePicture(bytes, QStringLiteral("m.jpg")), expected);
    const QImage opaque = expected.convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(viaBands(bytes, RowLayout::Bgr24, 7), opaque);
    QCOMPARE(viaBands(bytes, RowLayout::Bgra32, 1), opaque);
    QCOMPARE(viaBands(bytes, RowLayout::Bgrx32, 1 << 20), opaque);
}

void TestJpegSource::damage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("intact"); // what an accepted file must show
    QTest::addColumn<int>("number");        // 0: accepted
    QTest::addColumn<QString>("why");
    const QByteArray base = qtJpeg(photo(64, 48), 90), prog = qtJpeg(photo(64, 48), 90, true);
    const QByteArray arith = committed("libjpeg-arithmetic.jpg");
    const QByteArray flat = committed("libjpeg-arithmetic-flat-1024.jpg");
    const QByteArray scans = committed("libjpeg-three-scans.jpg");
    const QByteArray restart = committed("cv-restart-1.jpg");
    const qsizetype sof = base.indexOf(Sof0), mid = (base.lastIndexOf(Sos) + base.size()) / 2;
    const int damaged = RunError::DamagedPicture, invalid = RunError::InvalidPicture;
    const QString early = QStringLiteral("(Premature end of JPEG file)");
    const QString segment = QStringLiteral("(Corrupt JPEG data: premature end of data segment)");
    QTest::newRow("progressive cut between scans")
        << prog.left(prog.lastIndexOf(Sos)) << prog << damaged << early;
    QTest::newRow("progressive cut in a scan") << prog.chopped(30) << prog << damaged << segment;
    QTest::newRow("baseline cut in its scan") << base.left(mid) << base << damaged << segment;
    QTest::newRow("cut in a header") << base.left(sof + 6) << base << damaged << early;
    // Sixteen one bits in a row are no Huffman code.
    QTest::newRow("one bits in the scan")
        << replaced(base, mid, QByteArray("\xFF\0", 2).repeated(12)) << base << damaged
        << "bad Huffman code";
    QTest::newRow("restart marker out of turn")
        << replaced(restart, restart.indexOf("\xFF\xD0"), "\xFF\xD3") << restart << damaged
        << "found marker 0xd3 instead of RST0";
    QTest::newRow("bytes before the end marker")
        << base.chopped(2) + QByteArray("\x12\x34").repeated(4) + "\xFF\xD9" << base << damaged
        << "extraneous bytes";
    // Without the end marker, the pixels are whole if the data was: libjpeg needed no bit
    // past the end of a single scan, or a progressive file brought every coefficient down
    // to its last bit.
    QTest::newRow("baseline without end marker") << base.chopped(2) << base << 0 << QString();
    QTest::newRow("progressive without end marker") << prog.chopped(2) << prog << 0 << QString();
    // Arithmetic decoding reads past its data by design, and a missing sequential scan
    // leaves no trace: neither can be told from a cut, so both are refused.
    QTest::newRow("arithmetic without end marker") << arith.chopped(2) << arith << damaged << early;
    QTest::newRow("arithmetic cut") << arith.left(arith.size() / 2) << arith << damaged << early;
    QTest::newRow("flat arithmetic cut, over the bound per byte")
        << flat.chopped(3) << flat << damaged << early;
    QTest::newRow("sequential scans, the last missing")
        << scans.left(scans.lastIndexOf(Sos)) << scans << damaged << early;
    QTest::newRow("sequential scans without end marker")
        << scans.chopped(2) << scans << damaged << early;
    QTest::newRow("width 0") << replaced(base, sof + 7, QByteArray(2, '\0')) << base << invalid
                             << "(0 x 48 pixels)";
    QTest::newRow("12-bit samples")
        << replaced(base, sof + 4, "\x0C") << base << invalid << "precision 12";
    QTest::newRow("lossless") << replaced(base, sof + 1, "\xC3") << base << invalid
                              << "SOF type 0xc3";
    QTest::newRow("4096 x 4096 in a few KB")
        << replaced(prog, prog.indexOf(Sof2) + 5, QByteArray("\x10\0\x10\0", 4)) << prog << damaged
        << "more than its";
}

void TestJpegSource::damage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, intact);
    QFETCH(int, number);
    QFETCH(QString, why);
    const QString path = m_dir.filePath(QStringLiteral("d.jpg"));
    writeFile(path, bytes);
    QImage got;
    QString message;
    QCOMPARE(errorOf([&] { got = readPicture(path); }, &message), number);
    if (number == 0)
        QCOMPARE(got, QImage::fromData(intact).convertToFormat(QImage::Format_RGB32));
    else
        QVERIFY2(message.contains(why), qPrintable(message));
}

// A progressive file is decoded into libjpeg's coefficients for the whole picture: a file
// of a few KB that declares 16384 x 16384 is refused before either that or the picture
// is allocated, and so is one padded out to pass the bound per byte. A flat
// arithmetic-coded 1024 x 1024 of 208 bytes, cut in its data, is refused before its
// picture of 4 MiB.
void TestJpegSource::allocatesLittleForHugeClaims()
{
#if !defined(__SANITIZE_ADDRESS__)
    QSKIP("allocations are watched through the address sanitizer's hooks");
#else
    const QByteArray prog = qtJpeg(photo(64, 48), 90, true);
    const QByteArray huge = replaced(prog, prog.indexOf(Sof2) + 5, QByteArray("\x40\0\x40\0", 4));
    for (const auto &[bytes, number] :
         {std::pair(huge, int(RunError::DamagedPicture)),
          std::pair(huge + QByteArray(300 << 10, '\0'), int(RunError::OutOfMemory)),
          std::pair(committed("libjpeg-arithmetic-flat-1024.jpg").chopped(3),
                    int(RunError::DamagedPicture))}) {
        const QString path = m_dir.filePath(QStringLiteral("claim.jpg"));
        writeFile(path, bytes);
        g_largestAllocation = 0;
        QCOMPARE(errorOf([&] { readPicture(path); }), number);
        QVERIFY2(g_largestAllocation < (1 << 20), qPrintable(QString::number(g_largestAllocation)));
    }
#endif
}

// The file loses its end while libjpeg reads it: the read's failure comes out of libjpeg's
// frames as a RunError, not as an exception through them.
void TestJpegSource::fileShrinkingWhileRead()
{
    const QString path = m_dir.filePath(QStringLiteral("shrinks.jpg"));
    const QByteArray bytes = qtJpeg(photo(600, 400), 100, true);
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
