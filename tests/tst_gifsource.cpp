#include "SourceTesting.h"

#include <QRandomGenerator>

namespace
{

const QString Name = QStringLiteral("t.gif");

// gif() has its 5 x 3 frame at 61, its code size at 71 and its 12 bytes of codes at 73.
QByteArray gifWith(const QByteArray &beforeFrame)
{
    const QByteArray g = gif();
    return g.left(61) + beforeFrame + g.mid(61);
}

// `g` with its code number `index` (of five bits) replaced by `code`.
QByteArray withCode(QByteArray g, int index, int code)
{
    for (int bit = 0; bit < 5; ++bit) {
        const int at = 73 + (index * 5 + bit) / 8, shift = (index * 5 + bit) % 8;
        g[at] = char((uchar(g[at]) & ~(1 << shift)) | ((code >> bit) & 1) << shift);
    }
    return g;
}

// gif() interlaced: its rows in the order of the passes, 0, 2, 1. Its codes are a clear
// code, eight pixels, a clear code, seven pixels.
QByteArray interlacedGif()
{
    QByteArray g = with(gif(), 70, 0x40, 1);
    for (int i = 0; i < 15; ++i)
        g = withCode(g, i + 1 + i / 8, 5 * (i < 5 ? 0 : i < 10 ? 2 : 1) + i % 5);
    return g;
}

// A 64 x 64 frame of four colours whose codes fill giflib's table without a clear code:
// 4090 single pixels define codes 6 to 4094, code 4095 then stands for the one it defines
// (the last pixel twice), and with the table full come 4095 again and 100, two pixels each.
// `expected` gets its pixels. With one single pixel less, code 4095 is past the table.
QByteArray fullTableGif(QImage *expected = nullptr, int singles = 4090)
{
    QByteArray out("GIF89a\x40\0\x40\0\xF1\0\0", 13), lzw;
    for (int i = 0; i < 4; ++i)
        put(out, qBlue(colour(i)) << 16 | qGreen(colour(i)) << 8 | qRed(colour(i)), 3);
    out += QByteArray("\x2C\0\0\0\0\x40\0\x40\0\0\2", 11);
    QRandomGenerator rng(4095);
    QList<int> codes{4}, pixels;
    for (int i = 0; i < singles; ++i)
        pixels.append(int(rng.bounded(4)));
    codes += pixels;
    pixels += {pixels.back(), pixels.back(), pixels.back(), pixels.back(), pixels[94], pixels[95]};
    codes += {4095, 4095, 100, 5};
    quint32 acc = 0;
    int have = 0, bits = 3, running = 6;
    for (const int code : codes) { // widths as giflib reads them
        acc |= quint32(code) << have;
        for (have += bits; have >= 8; have -= 8, acc >>= 8)
            lzw.append(char(acc));
        if (running < 4097 && ++running > 1 << bits && bits < 12)
            ++bits;
        if (code == 4)
            running = 6, bits = 3;
    }
    lzw.append(char(acc));
    for (qsizetype at = 0; at < lzw.size(); at += 255)
        out += char(std::min<qsizetype>(255, lzw.size() - at)) + lzw.mid(at, 255);
    if (expected) {
        *expected = QImage(64, 64, QImage::Format_RGB32);
        for (int i = 0; i < 4096; ++i)
            expected->setPixel(i % 64, i / 64, colour(pixels[i]));
    }
    return out + QByteArray("\0;", 2);
}

} // namespace

class TestGifSource : public QObject
{
    Q_OBJECT
private slots:
    void matchesQt_data();
    void matchesQt();
    void interlacedPasses();
    void refusesDamage_data();
    void refusesDamage();
};

// Every pixel as the window showed it through Qt's own GIF reader; where Qt's reader is at
// fault, the picture the file holds.
void TestGifSource::matchesQt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("interlaced");
    QTest::addColumn<QImage>("expected"); // null: Qt's
    const QByteArray transparentThree("\x21\xF9\x04\x01\0\0\x03\0", 8), g = gif();
    // Files from Pillow, ImageMagick and giflib (tests/data/gif/make.sh): extension blocks,
    // tables of 2 to 256 colours, a frame's own table, codes that widen to 12 bits, frames
    // at an offset on a larger screen, a second frame never shown. Against Pillow's reading,
    // the twin PNG, where Pillow fills the screen as Qt does; else against Qt's.
    const QDir data(QFINDTESTDATA("data/gif"));
    for (const QString &name : data.entryList({"*.gif"}))
        QTest::newRow(qPrintable(name))
            << readFile(data.filePath(name)) << name.contains(QLatin1String("interlaced"))
            << QImage(data.filePath(QString(name).replace(".gif", ".png")));
    QTest::newRow("hand-made") << g << false << QImage();
    QImage full;
    const QByteArray fullTable = fullTableGif(&full);
    QTest::newRow("code 4095 and a full table without a clear code") << fullTable << false << full;
    QTest::newRow("hand-made, screen wider and taller: background")
        << with(with(g, 6, 0x00040007), 11, 5, 1) << false << QImage();
    QTest::newRow("hand-made, screen wider, colour 3 transparent")
        << with(gifWith(transparentThree), 6, 7, 2) << false << QImage();
    QTest::newRow("cut right after its last pixel") << g.left(g.size() - 3) << false << QImage();
    QTest::newRow("no trailer") << g.chopped(1) << false << QImage();
    // Qt leaves a row of an interlaced frame of 3 or 4 rows unpainted and paints another
    // twice (so does ImageMagick's writer).
    QTest::newRow("interlaced, 3 rows") << interlacedGif() << true << sample();
    // Qt paints the pixels a code stream holds past its frame below the frame.
    QImage twoRows = sample();
    for (int x = 0; x < 5; ++x)
        twoRows.setPixel(x, 2, colour(0)); // the background
    QTest::newRow("codes for more rows than the frame") << with(g, 68, 2, 2) << false << twoRows;
    // Qt takes the fill from a frame's own table, before it has read it; the background
    // colour belongs to the global one.
    QByteArray table;
    QImage local(7, 3, QImage::Format_RGB32);
    local.fill(colour(0));
    for (int i = 0; i < 16; ++i) {
        const QRgb c = colour(15 - i);
        put(table, qBlue(c) << 16 | qGreen(c) << 8 | qRed(c), 3);
        if (i < 15)
            local.setPixel(i % 5, i / 5, c);
    }
    const QByteArray wide = with(g, 6, 7, 2);
    QTest::newRow("frame with its own table on a wider screen")
        << wide.left(70) + '\x83' + table + wide.mid(71) << false << local;
}

void TestGifSource::matchesQt()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, interlaced);
    QFETCH(QImage, expected);
    QVERIFY(!bytes.isEmpty());
    const QImage qt = QImage::fromData(bytes);
    QVERIFY(!qt.isNull());
    InputFile in(bytes, Name);
    const std::unique_ptr<PictureSource> source = openPicture(in, Name);
    // Qt reads a GIF with a transparent entry as ARGB32, whether a pixel uses it or not.
    QCOMPARE(source->hasAlpha(), qt.format() == QImage::Format_ARGB32);
    QCOMPARE(source->interlaced(), interlaced);
    QCOMPARE(source->nativeLayout(), source->hasAlpha() ? RowLayout::Bgra32 : RowLayout::Bgrx32);
    for (const RowLayout layout : Layouts)
        QCOMPARE(readBands(bytes, Name, layout, layout == RowLayout::Bgr24 ? 100 : 3),
                 inLayout(expected.isNull() ? qt : expected, layout));
}

// An interlaced 27 x 22 frame at 3, 2 on a 31 x 26 screen: the fill above and below, then
// the frame's passes as whole screen rows, in the order the file holds them.
void TestGifSource::interlacedPasses()
{
    std::vector<Band> bands;
    const QByteArray bytes = testData("gif/gb-local-table-interlaced-offset.gif");
    QVERIFY(!readBands(bytes, Name, RowLayout::Bgrx32, 100, true, &bands).isNull());
    QList<QList<int>> got; // y0, dy, rows
    for (const Band &b : bands)
        got.append({b.y0, b.dy, b.rows});
    const QList<QList<int>> expected = {{0, 1, 2}, {24, 1, 2}, {2, 8, 3},
                                        {6, 8, 3}, {4, 4, 5},  {3, 2, 11}};
    QCOMPARE(got, expected);
}

// Refused before anything of the screen's size is allocated; "is not" where the file is
// no picture rather than a damaged one.
void TestGifSource::refusesDamage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    const QByteArray g = gif(), lzw = g.mid(73, 12);
    const QString cut = QStringLiteral("is cut short");
    QTest::newRow("cut in its codes") << g.left(g.size() - 8) << cut;
    QTest::newRow("cut before its last pixel") << g.left(g.size() - 4) << cut;
    QTest::newRow("cut in its colour table") << g.left(40) << cut;
    QTest::newRow("cut in its frame descriptor") << g.left(66) << cut;
    QTest::newRow("code past its table") << with(g, 75, 0xFF, 1) << "past its table";
    QTest::newRow("table code first") << withCode(g, 1, 18) << "code 18, past";
    QTest::newRow("code 4095 before 4094 is defined")
        << fullTableGif(nullptr, 4089) << "code 4095, past";
    QTest::newRow("end code before its last pixel") << withCode(g, 12, 17) << "damaged (";
    QTest::newRow("empty sub-block amid its codes")
        << g.left(72) + '\5' + lzw.left(5) + '\0' + '\7' + lzw.mid(5) + QByteArray("\0;", 2)
        << "damaged (";
    QTest::newRow("code size 9") << with(g, 71, 9, 1) << "code size is 9";
    QTest::newRow("unknown record") << gifWith("\x99") << "damaged (";
    QTest::newRow("graphic control block of 2 bytes")
        << gifWith(QByteArray("\x21\xF9\2\0\0\0", 6)) << "2 bytes long";
    QTest::newRow("frame past the screen's right edge") << with(g, 62, 1, 2) << "outside";
    QTest::newRow("frame past the screen's bottom") << with(g, 68, 4, 2) << "outside";
    QTest::newRow("frame 0 wide") << with(g, 66, 0, 2) << "is 0 x 3 pixels";
    QTest::newRow("frame 0 high") << with(g, 68, 0, 2) << "is 5 x 0 pixels";
    // Qt shows colours past the table as white.
    QTest::newRow("pixel past its table of 8")
        << with(g.left(37), 10, 0xF2, 1) + g.mid(61) << "colour 8, past";
    QTest::newRow("no colour table")
        << with(g.left(13), 10, 0x73, 1) + g.mid(61) << "no colour table";
    QTest::newRow("background colour just past its table around a smaller frame")
        << with(with(g, 6, 6, 2), 11, 16, 1) << "background colour 16";
    QTest::newRow("no picture") << g.left(61) + ';' << "holds no picture";
    QTest::newRow("screen 0 wide") << with(g, 6, 0, 2) << "is not a valid picture (0 x 3 pixels)";
    QTest::newRow("8000 x 8000 screen around 5 x 3 pixels")
        << with(g, 6, 0x1F401F40) << "declares 8000 x 8000";
}

void TestGifSource::refusesDamage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    VERIFY_ERROR(says.startsWith(QLatin1String("is not")) ? RunError::InvalidPicture
                                                          : RunError::DamagedPicture,
                 says, [&] { readBands(bytes, Name, RowLayout::Bgra32, 5); });
}

QTEST_GUILESS_MAIN(TestGifSource)
#include "tst_gifsource.moc"
