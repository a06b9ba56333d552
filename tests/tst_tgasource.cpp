#include "PictureIO.h"
#include "PictureSource.h"
#include "RunError.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDir>
#include <QTest>

#include <atomic>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC ships no header for it): calls back on every allocation.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
#endif

namespace
{

std::atomic<size_t> g_largestAllocation{0};

// A TGA built here: header, colour map (entries of `mapBits`, the first numbered `mapFirst`)
// and pixels, with no footer.
QByteArray tga(int type, int depth, int w, int h, int descriptor, const QByteArray &pixels,
               const QByteArray &map = {}, int mapBits = 0, int mapFirst = 0)
{
    QByteArray out;
    const int entries = mapBits ? int(map.size()) / ((mapBits + 7) / 8) : 0;
    for (const auto &[value, bytes] : {std::pair{0, 1},
                                       {mapBits ? 1 : 0, 1},
                                       {type, 1},
                                       {mapFirst, 2},
                                       {entries, 2},
                                       {mapBits, 1},
                                       {0, 4},
                                       {w, 2},
                                       {h, 2},
                                       {depth, 1},
                                       {descriptor, 1}})
        put(out, quint32(value), bytes);
    return out + map + pixels;
}

// `file` with a TGA 2.0 extension area of `attributes` type and the footer pointing to it.
QByteArray withExtension(const QByteArray &file, int attributes, qint64 at = -1)
{
    QByteArray out = file;
    put(out, 495, 2);
    out += QByteArray(492, '\0') + char(attributes);
    put(out, quint32(at < 0 ? file.size() : at), 4);
    return out + QByteArray("\0\0\0\0TRUEVISION-XFILE.\0", 22);
}

QByteArray data(const QString &name)
{
    return readFile(QFINDTESTDATA(QStringLiteral("data/tga/") + name));
}

QImage withoutAlpha(const QImage &img)
{
    return img.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
}

// Where two pictures differ by more than `tolerance` in a channel; empty where they do not.
QString difference(const QImage &a, const QImage &b, int tolerance = 0)
{
    if (a.size() != b.size())
        return QStringLiteral("sizes differ");
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (const int shift : {0, 8, 16, 24})
                if (std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)) > tolerance)
                    return QString::asprintf("(%d, %d): %08x against %08x", x, y, p, q);
        }
    return {};
}

// The whole picture through a source's bands of at most `maxRows` rows, as Format_ARGB32.
void readBands(PictureSource &source, RowLayout layout, bool topDown, int maxRows, QImage &out)
{
    const QImage::Format format = layout == RowLayout::Bgr24    ? QImage::Format_BGR888
                                  : layout == RowLayout::Bgrx32 ? QImage::Format_RGB32
                                                                : QImage::Format_ARGB32;
    QImage img(source.width(), source.height(), format);
    img.fill(0x5A);
    source.start(layout, topDown);
    int rows = 0;
    for (Band b; (b = source.nextBand(maxRows)).rows > 0; rows += b.rows) {
        QVERIFY(b.wholeRows(source.width()) && b.rows <= maxRows);
        QCOMPARE(b.dy, source.topDown() ? 1 : -1);
        QCOMPARE(b.y0, source.topDown() ? rows : source.height() - 1 - rows);
        source.readBand(img.scanLine(b.y0), b.dy * img.bytesPerLine());
    }
    QCOMPARE(rows, source.height());
    source.finish();
    out = img.convertToFormat(QImage::Format_ARGB32);
}

int errorOf(const QByteArray &bytes, const QString &name, bool direct, QString *message)
{
    try {
        InputFile in(bytes, name);
        const auto source = direct ? openTga(in, name) : openPicture(in, name);
        QImage img;
        readBands(*source, RowLayout::Bgra32, true, 1000, img);
    } catch (const RunError &e) {
        *message = e.description();
        return e.number();
    }
    return 0;
}

} // namespace

class TestTgaSource : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void matchesTwin_data();
    void matchesTwin();
    void decodes_data();
    void decodes();
    void largerThanABlock_data();
    void largerThanABlock();
    void refuses_data();
    void refuses();
    void allocatesLittleForHugeClaims();
};

void TestTgaSource::initTestCase()
{
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

// Files from ImageMagick and Pillow (tests/data/tga/make.py) against the PNG of the same
// picture, in every layout and both orders. Five-bit channels may differ by one from either
// encoder's rounding.
void TestTgaSource::matchesTwin_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &tgaFile : QDir(QFINDTESTDATA("data/tga")).entryList({"*.tga"}))
        QTest::newRow(qPrintable(tgaFile)) << tgaFile.chopped(4);
}

void TestTgaSource::matchesTwin()
{
    QFETCH(QString, name);
    const QByteArray bytes = data(name + QStringLiteral(".tga"));
    const QImage twin =
        QImage(QFINDTESTDATA(QStringLiteral("data/tga/") + name + QStringLiteral(".png")))
            .convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!bytes.isEmpty() && !twin.isNull());
    const bool rle = bytes[2] & 8, fileTopDown = bytes[17] & 0x20;
    const bool alpha = withoutAlpha(twin) != twin, bgr24 = bytes[2] % 8 == 2 && bytes[16] == 24;
    const int tolerance = name.contains(QLatin1String("16")) ? 1 : 0;
    for (const RowLayout layout : {RowLayout::Bgr24, RowLayout::Bgrx32, RowLayout::Bgra32}) {
        for (const bool topDown : {true, false}) {
            InputFile in(bytes, name);
            const auto source = openPicture(in, name + QStringLiteral(".tga"));
            QCOMPARE(source->hasAlpha(), alpha);
            QCOMPARE(source->nativeLayout(), bgr24   ? RowLayout::Bgr24
                                             : alpha ? RowLayout::Bgra32
                                                     : RowLayout::Bgrx32);
            QCOMPARE(source->reversible(), !rle);
            QImage img;
            readBands(*source, layout, topDown, 2, img);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(source->topDown(), rle ? fileTopDown : topDown);
            const QImage expected = layout == RowLayout::Bgra32 ? twin : withoutAlpha(twin);
            const QString diff = difference(img, expected, tolerance);
            QVERIFY2(diff.isEmpty(), qPrintable(diff));
        }
    }
    // The window's path reads the same picture.
    QVERIFY(difference(decodePicture(bytes, name + QStringLiteral(".tga"), PictureAlpha::Keep),
                       twin, tolerance)
                .isEmpty());
}

// Files no encoder at hand writes: what the attribute bits mean, five-bit channels, colour
// maps that start past index 0, packets across rows, pixels from the right.
void TestTgaSource::decodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QRgb>>("pixels"); // top-down
    QTest::addColumn<bool>("alpha");
    const QByteArray bgra("\x40\x20\x10\x80", 4);
    const QRgb stored = qRgba(0x10, 0x20, 0x40, 0x80), opaque = stored | 0xFF000000u;
    QTest::newRow("32-bit, no alpha bits: opaque")
        << tga(2, 32, 1, 1, 0, bgra) << QList{opaque} << false;
    QTest::newRow("32-bit, 8 alpha bits") << tga(2, 32, 1, 1, 8, bgra) << QList{stored} << true;
    QTest::newRow("32-bit, extension says alpha")
        << withExtension(tga(2, 32, 1, 1, 0, bgra), 3) << QList{stored} << true;
    QTest::newRow("32-bit, extension says not alpha")
        << withExtension(tga(2, 32, 1, 1, 8, bgra), 2) << QList{opaque} << false;
    QTest::newRow("32-bit, premultiplied")
        << withExtension(tga(2, 32, 1, 1, 8, bgra), 4) << QList{qUnpremultiply(stored)} << true;
    // 0x7C1F: red 31, green 0, blue 31; 0x0421: 1, 1, 1 expands to 8.
    const QByteArray rgb16("\x1F\x7C\x21\x04", 4);
    const QList<QRgb> expanded{qRgb(255, 0, 255), qRgb(8, 8, 8)};
    QTest::newRow("16-bit, no alpha bits: top bit ignored")
        << tga(2, 16, 2, 1, 0x20, rgb16) << expanded << false;
    QTest::newRow("15-bit") << tga(2, 15, 2, 1, 0x21, rgb16) << expanded << false;
    QTest::newRow("16-bit, 1 alpha bit")
        << tga(2, 16, 2, 1, 0x21, QByteArray("\x1F\xFC\x21\x04", 4))
        << QList<QRgb>{qRgb(255, 0, 255), qRgba(8, 8, 8, 0)} << true;
    QTest::newRow("map of 32-bit entries from index 3")
        << tga(1, 8, 2, 1, 0x28, "\3\4", QByteArray("\1\2\3\4\5\6\7\x80", 8), 32, 3)
        << QList<QRgb>{qRgba(3, 2, 1, 4), qRgba(7, 6, 5, 0x80)} << true;
    // Rows bottom-up: a run of 4 paints the bottom row and half the top one.
    QTest::newRow("run across rows")
        << tga(11, 8, 3, 2, 0, QByteArray("\x83\x11\x01\x22\x33", 5))
        << QList<QRgb>{qRgb(17, 17, 17), qRgb(34, 34, 34), qRgb(51, 51, 51),
                       qRgb(17, 17, 17), qRgb(17, 17, 17), qRgb(17, 17, 17)}
        << false;
    QTest::newRow("rle, right to left")
        << tga(11, 8, 3, 1, 0x30, QByteArray("\x02\x11\x22\x33", 4))
        << QList<QRgb>{qRgb(51, 51, 51), qRgb(34, 34, 34), qRgb(17, 17, 17)} << false;
}

void TestTgaSource::decodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QRgb>, pixels);
    QFETCH(bool, alpha);
    InputFile in(bytes, QStringLiteral("x.tga"));
    const auto source = openTga(in, QStringLiteral("x.tga"));
    QCOMPARE(source->hasAlpha(), alpha);
    QImage img;
    readBands(*source, RowLayout::Bgra32, true, 1, img);
    QList<QRgb> got;
    for (int i = 0; i < img.width() * img.height(); ++i)
        got.append(img.pixel(i % img.width(), i / img.width()));
    QCOMPARE(got, pixels);
}

// Pictures of more than one block (a mebibyte) of file, in bands of odd sizes.
void TestTgaSource::largerThanABlock_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("expected");
    QImage img(700, 530, QImage::Format_ARGB32);
    quint32 seed = 1;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, (seed = seed * 1664525u + 1013904223u) >> 4 | 0x80000000u);
    QByteArray bottomUp24, topDown32, runs;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            put(bottomUp24, img.pixel(x, img.height() - 1 - y), 3);
            put(topDown32, img.pixel(x, y), 4);
        }
    // Raw packets of 128 pixels, running across rows.
    for (qsizetype i = 0; i < bottomUp24.size(); i += 128 * 3) {
        const QByteArray packet = bottomUp24.mid(i, 128 * 3);
        runs += char(packet.size() / 3 - 1) + packet;
    }
    QTest::newRow("24-bit from the bottom")
        << tga(2, 24, 700, 530, 0, bottomUp24) << withoutAlpha(img);
    QTest::newRow("32-bit from the top") << tga(2, 32, 700, 530, 0x28, topDown32) << img;
    QTest::newRow("rle from the bottom") << tga(10, 24, 700, 530, 0, runs) << withoutAlpha(img);
}

void TestTgaSource::largerThanABlock()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);
    QVERIFY(bytes.size() > (1 << 20));
    for (const RowLayout layout : {RowLayout::Bgr24, RowLayout::Bgra32})
        for (const bool topDown : {true, false}) {
            InputFile in(bytes, QStringLiteral("big.tga"));
            const auto source = openTga(in, QStringLiteral("big.tga"));
            QImage img;
            readBands(*source, layout, topDown, 333, img);
            if (QTest::currentTestFailed())
                return;
            const QImage want = layout == RowLayout::Bgra32 ? expected : withoutAlpha(expected);
            const QString diff = difference(img, want);
            QVERIFY2(diff.isEmpty(), qPrintable(diff));
        }
}

void TestTgaSource::refuses_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("direct"); // through openTga rather than openPicture
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("message");
    const int damaged = RunError::DamagedPicture, invalid = RunError::InvalidPicture;
    const QString tgaName = QStringLiteral("x.tga"), binName = QStringLiteral("x.bin");
    const QByteArray bgr24 = data(QStringLiteral("im-bgr24.tga"));
    const QByteArray rle32 = data(QStringLiteral("im-bgra32-rle.tga"));
    const QByteArray pal = data(QStringLiteral("pil-palette.tga"));
    const QByteArray map4("\0\0\0\1\1\1\2\2\2\3\3\3", 12);
    QTest::newRow("pixels cut") << bgr24.chopped(1) << tgaName << false << damaged
                                << "is cut short";
    QTest::newRow("runs cut") << rle32.chopped(3) << tgaName << false << damaged << "is cut short";
    QTest::newRow("run past the last pixel")
        << tga(11, 8, 2, 2, 0, "\x84\x07") << tgaName << false << damaged << "past its last pixel";
    QTest::newRow("index past the map") << tga(1, 8, 2, 1, 0, "\3\4", map4, 24) << tgaName << false
                                        << damaged << "colour index past";
    QTest::newRow("index before the map") << tga(9, 8, 2, 1, 0, "\x81\1", map4, 24, 2) << tgaName
                                          << false << damaged << "colour index past";
    QTest::newRow("map past the end")
        << pal.left(400) << tgaName << false << damaged << "colour map past its end";
    QTest::newRow("empty map") << with(pal, 5, 0, 2) << tgaName << false << damaged
                               << "empty colour map";
    QTest::newRow("depth for the type, direct")
        << tga(2, 8, 1, 1, 0, "\0") << tgaName << true << damaged << "8 bits per pixel";
    QTest::newRow("depth for the type")
        << tga(3, 24, 1, 1, 0, "\0\0\0") << tgaName << false << invalid << "is not a picture";
    QTest::newRow("map entries of 8 bits")
        << tga(1, 8, 1, 1, 0, "\0", "\0", 8) << tgaName << true << damaged << "entries of 8 bits";
    QTest::newRow("width 0") << with(bgr24, 12, 0, 2) << tgaName << false << invalid
                             << "(0 x 5 pixels)";
    QTest::newRow("65535 x 65535") << with(bgr24, 12, 0xFFFFFFFF) << tgaName << false
                                   << int(RunError::OutOfMemory) << "more than 16384 x 16384";
    QTest::newRow("interleaved") << with(bgr24, 17, 0x40, 1) << tgaName << false << invalid
                                 << "does not read (interleaved rows)";
    QTest::newRow("16-bit indices") << tga(1, 16, 1, 1, 0, "\0\0", map4, 24) << tgaName << false
                                    << invalid << "does not read (16-bit colour indices)";
    QTest::newRow("extension area out of place")
        << withExtension(bgr24, 3, 5) << tgaName << false << damaged << "extension area";
    QTest::newRow("text named .tga") << QByteArray("Hero sheet: 32 x 48, key colour magenta.\n")
                                     << tgaName << false << invalid << "is not a picture";
    QTest::newRow("no name, no footer") << data(QStringLiteral("im-gray-top.tga")) << binName
                                        << false << invalid << "is not a picture";
    QTest::newRow("footer, no name")
        << data(QStringLiteral("pil-bgra32.tga")) << binName << false << 0 << QString();
    QTest::newRow("upper-case name") << bgr24 << QStringLiteral("X.TGA") << false << 0 << QString();
}

void TestTgaSource::refuses()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(bool, direct);
    QFETCH(int, number);
    QFETCH(QString, message);
    QString got;
    QCOMPARE(errorOf(bytes, name, direct, &got), number);
    QVERIFY2(got.contains(message), qPrintable(got));
}

// A few dozen bytes of runs that declare a sheet of 16384 x 16384 must not make the reader
// allocate for it: a packet paints at most 128 pixels.
void TestTgaSource::allocatesLittleForHugeClaims()
{
#if !defined(__SANITIZE_ADDRESS__)
    QSKIP("allocations are watched through the address sanitizer's hooks");
#else
    g_largestAllocation = 0;
    QString message;
    QCOMPARE(errorOf(tga(10, 24, 16384, 16384, 0, QByteArray(40, '\xFF')), QStringLiteral("x.tga"),
                     false, &message),
             int(RunError::DamagedPicture));
    QVERIFY2(g_largestAllocation < (1 << 20), qPrintable(QString::number(g_largestAllocation)));
#endif
}

QTEST_GUILESS_MAIN(TestTgaSource)
#include "tst_tgasource.moc"
