#include "SourceTesting.h"

namespace
{

// A TGA built here: header, image ID field, colour map (entries of `mapBits`, the first
// numbered `mapFirst`) and pixels, with no footer.
QByteArray tga(int type, int depth, int w, int h, int descriptor, const QByteArray &pixels,
               const QByteArray &map = {}, int mapBits = 0, int mapFirst = 0,
               const QByteArray &id = {})
{
    const quint32 entries = mapBits ? quint32(map.size()) / ((mapBits + 7) / 8) : 0;
    // A colour map (type 1) exactly when there are entries; origin 0, 0.
    QByteArray out =
        with(QByteArray(18, '\0'), 1, quint32(mapBits ? 1 : 0) | type << 8 | mapFirst << 16);
    out = with(with(out, 5, entries | mapBits << 16, 3), 12, quint32(w) | quint32(h) << 16);
    out[0] = char(id.size());
    return with(out, 16, quint32(depth) | descriptor << 8, 2) + id + map + pixels;
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

} // namespace

class TestTgaSource : public QObject
{
    Q_OBJECT
private slots:
    void matchesTwin_data();
    void matchesTwin();
    void largerThanABlock_data();
    void largerThanABlock();
    void handMade_data();
    void handMade();
};

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
    const QByteArray bytes = testData("tga/" + name + ".tga");
    const QImage twin =
        QImage(QFINDTESTDATA(QStringLiteral("data/tga/") + name + QStringLiteral(".png")))
            .convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!bytes.isEmpty() && !twin.isNull());
    const bool rle = bytes[2] & 8, fileTopDown = bytes[17] & 0x20;
    const bool alpha = inLayout(twin, RowLayout::Bgrx32) != twin,
               bgr24 = bytes[2] % 8 == 2 && bytes[16] == 24;
    const int tolerance = name.contains(QLatin1String("16")) ? 1 : 0;
    for (const RowLayout layout : Layouts)
        for (const bool topDown : {true, false}) {
            InputFile in(bytes, name);
            const auto source = openPicture(in, name + QStringLiteral(".tga"));
            QCOMPARE(source->hasAlpha(), alpha);
            QCOMPARE(source->nativeLayout(), bgr24   ? RowLayout::Bgr24
                                             : alpha ? RowLayout::Bgra32
                                                     : RowLayout::Bgrx32);
            QCOMPARE(source->reversible(), !rle);
            const QString diff = difference(readBands(*source, layout, 2, topDown),
                                            inLayout(twin, layout), tolerance);
            QVERIFY2(diff.isEmpty(), qPrintable(diff));
            QCOMPARE(source->topDown(), rle ? fileTopDown : topDown);
        }
    // The window's path reads the same picture.
    QVERIFY(difference(decodePicture(bytes, name + QStringLiteral(".tga"), PictureAlpha::Keep),
                       twin, tolerance)
                .isEmpty());
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
    // Qt's rows of 700 pixels need no padding: the file's rows as they are.
    const QImage bgr = img.convertToFormat(QImage::Format_BGR888).mirrored();
    const QByteArray bottomUp24(reinterpret_cast<const char *>(bgr.constBits()), bgr.sizeInBytes());
    QByteArray runs; // raw packets of 128 pixels, running across rows
    for (qsizetype i = 0; i < bottomUp24.size(); i += 128 * 3) {
        const QByteArray packet = bottomUp24.mid(i, 128 * 3);
        runs += char(packet.size() / 3 - 1) + packet;
    }
    QTest::newRow("24-bit from the bottom")
        << tga(2, 24, 700, 530, 0, bottomUp24) << inLayout(img, RowLayout::Bgrx32);
    QTest::newRow("rle from the bottom")
        << tga(10, 24, 700, 530, 0, runs) << inLayout(img, RowLayout::Bgrx32);
}

void TestTgaSource::largerThanABlock()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);
    QVERIFY(bytes.size() > (1 << 20));
    for (const RowLayout layout : {RowLayout::Bgr24, RowLayout::Bgra32})
        for (const bool topDown : {true, false}) {
            InputFile in(bytes, QStringLiteral("big.tga"));
            QCOMPARE(readBands(*openTga(in, in.path()), layout, 333, topDown),
                     inLayout(expected, layout));
        }
}

// Files built here: what the attribute bits mean, five-bit channels, colour maps that start
// past index 0, packets across rows, pixels from the right (no encoder at hand writes these);
// and damage of every kind, refused without allocating for what a damaged file declares.
void TestTgaSource::handMade_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("direct");        // through openTga rather than openPicture
    QTest::addColumn<QList<QRgb>>("pixels"); // top-down; none: not looked at
    QTest::addColumn<bool>("alpha");
    const auto row = [](const char *tag, const QByteArray &bytes, int number, const char *message,
                        const char *name = "x.tga", bool direct = false) {
        QTest::newRow(tag) << bytes << number << QString::fromLatin1(message)
                           << QString::fromLatin1(name) << direct << QList<QRgb>() << false;
    };
    const auto reads = [](const char *tag, const QByteArray &bytes, const QList<QRgb> &pixels,
                          bool alpha) {
        QTest::newRow(tag) << bytes << 0 << QString() << QStringLiteral("x.tga") << true << pixels
                           << alpha;
    };
    const QByteArray bgra("\x40\x20\x10\x80", 4);
    const QRgb stored = qRgba(0x10, 0x20, 0x40, 0x80), opaque = stored | 0xFF000000u;
    reads("32-bit, no alpha bits: opaque", tga(2, 32, 1, 1, 0, bgra), {opaque}, false);
    reads("32-bit, extension says alpha", withExtension(tga(2, 32, 1, 1, 0, bgra), 3), {stored},
          true);
    reads("32-bit, extension says not alpha", withExtension(tga(2, 32, 1, 1, 8, bgra), 2), {opaque},
          false);
    reads("32-bit, premultiplied", withExtension(tga(2, 32, 1, 1, 8, bgra), 4),
          {qUnpremultiply(stored)}, true);
    // 0x7C1F: red 31, green 0, blue 31; 0x0421: 1, 1, 1 expands to 8.
    const QList<QRgb> expanded{qRgb(255, 0, 255), qRgb(8, 8, 8)};
    reads("15-bit", tga(2, 15, 2, 1, 0x21, QByteArray("\x1F\x7C\x21\x04", 4)), expanded, false);
    reads("16-bit, 1 alpha bit", tga(2, 16, 2, 1, 0x21, QByteArray("\x1F\xFC\x21\x04", 4)),
          {qRgb(255, 0, 255), qRgba(8, 8, 8, 0)}, true);
    reads("map of 32-bit entries from index 3",
          tga(1, 8, 2, 1, 0x28, "\3\4", QByteArray("\1\2\3\4\5\6\7\x80", 8), 32, 3),
          {qRgba(3, 2, 1, 4), qRgba(7, 6, 5, 0x80)}, true);
    reads("map and pixels after an ID field",
          tga(1, 8, 2, 1, 0, QByteArray("\1\0", 2), "\1\2\3\4\5\6", 24, 0, "sprite 7"),
          {qRgb(6, 5, 4), qRgb(3, 2, 1)}, false);
    // Rows bottom-up: a run of 4 paints the bottom row and half the top one.
    const QRgb c1 = qRgb(17, 17, 17), c2 = qRgb(34, 34, 34), c3 = qRgb(51, 51, 51);
    reads("run across rows", tga(11, 8, 3, 2, 0, QByteArray("\x83\x11\x01\x22\x33", 5)),
          {c1, c2, c3, c1, c1, c1}, false);
    reads("rle, right to left", tga(11, 8, 3, 1, 0x30, QByteArray("\x02\x11\x22\x33", 4)),
          {c3, c2, c1}, false);
    const int damaged = RunError::DamagedPicture, invalid = RunError::InvalidPicture;
    const QByteArray bgr24 = testData("tga/im-bgr24.tga");
    const QByteArray pal = testData("tga/pil-palette.tga");
    const QByteArray map4("\0\0\0\1\1\1\2\2\2\3\3\3", 12);
    row("pixels cut", bgr24.chopped(1), damaged, "is cut short");
    row("runs cut", testData("tga/im-bgra32-rle.tga").chopped(3), damaged, "is cut short");
    row("run past the last pixel", tga(11, 8, 2, 2, 0, "\x84\x07"), damaged, "past its last pixel");
    row("index past the map", tga(1, 8, 2, 1, 0, "\3\4", map4, 24), damaged, "colour index past");
    row("index before the map", tga(9, 8, 2, 1, 0, "\x81\1", map4, 24, 2), damaged,
        "colour index past");
    row("map past the end", pal.left(400), damaged, "colour map past its end");
    row("empty map", with(pal, 5, 0, 2), damaged, "empty colour map");
    row("depth for the type, direct", tga(2, 8, 1, 1, 0, "\0"), damaged, "8 bits per pixel",
        "x.tga", true);
    row("depth for the type", tga(3, 24, 1, 1, 0, "\0\0\0"), invalid, "is not a picture");
    row("map entries of 8 bits", tga(1, 8, 1, 1, 0, "\0", "\0", 8), damaged, "entries of 8 bits",
        "x.tga", true);
    row("width 0", with(bgr24, 12, 0, 2), invalid, "(0 x 5 pixels)");
    // A few dozen bytes of runs: a packet paints at most 128 pixels.
    row("16384 x 16384 in runs", tga(10, 24, 16384, 16384, 0, QByteArray(40, '\xFF')), damaged,
        "declares 16384 x 16384");
    row("65535 x 65535", with(bgr24, 12, 0xFFFFFFFF), RunError::OutOfMemory,
        "more than 16384 x 16384");
    row("interleaved", with(bgr24, 17, 0x40, 1), invalid, "does not read (interleaved rows)");
    row("16-bit indices", tga(1, 16, 1, 1, 0, "\0\0", map4, 24), invalid,
        "does not read (16-bit colour indices)");
    row("extension area out of place", withExtension(bgr24, 3, 5), damaged, "extension area");
    row("text named .tga", "Hero sheet: 32 x 48, key colour magenta.\n", invalid,
        "is not a picture");
    row("no name, no footer", testData("tga/im-gray-top.tga"), invalid, "is not a picture",
        "x.bin");
    row("footer, no name", testData("tga/pil-bgra32.tga"), 0, "", "x.bin");
    row("upper-case name", bgr24, 0, "", "X.TGA");
}

void TestTgaSource::handMade()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(bool, direct);
    QFETCH(int, number);
    QFETCH(QString, message);
    QFETCH(QList<QRgb>, pixels);
    QFETCH(bool, alpha);
    QImage img;
    bool hasAlpha = false;
    VERIFY_ERROR(number, message, [&] {
        InputFile in(bytes, name);
        const auto source = direct ? openTga(in, name) : openPicture(in, name);
        hasAlpha = source->hasAlpha();
        img = readBands(*source, RowLayout::Bgra32, pixels.isEmpty() ? 1000 : 1);
    });
    if (pixels.isEmpty())
        return;
    QCOMPARE(hasAlpha, alpha);
    QList<QRgb> got;
    for (int i = 0; i < img.width() * img.height(); ++i)
        got.append(img.pixel(i % img.width(), i / img.width()));
    QCOMPARE(got, pixels);
}

QTEST_GUILESS_MAIN(TestTgaSource)
#include "tst_tgasource.moc"
