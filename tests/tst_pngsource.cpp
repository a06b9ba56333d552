#include "SourceTesting.h"

#include <QColorSpace>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

namespace
{

// Qt's reading of a file in a layout, without the colour space Qt takes from the file's
// profile chunks, which is no part of the pixels. Qt turns the pixels of a grey picture's
// transparent grey `greyKey` black; libpng, and this program, keep their grey.
QImage qtReading(const QByteArray &bytes, RowLayout layout, int greyKey = -1)
{
    QImage img = QImage::fromData(bytes).convertToFormat(QImage::Format_ARGB32);
    img.setColorSpace(QColorSpace());
    for (int i = 0; greyKey >= 0 && i < img.width() * img.height(); ++i)
        if (img.pixel(i % img.width(), i / img.width()) == 0)
            img.setPixel(i % img.width(), i / img.width(), qRgba(greyKey, greyKey, greyKey, 0));
    return inLayout(img, layout);
}

// Channels that differ across the picture and from each other, alpha from clear to opaque.
QImage pattern(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    for (int i = 0; i < w * h; ++i) {
        const int x = i % w, y = i / w;
        img.setPixel(x, y,
                     qRgba((x * 29 + y * 7) % 256, (y * 41 + 3 * x) % 256, (x * y * 13 + 90) % 256,
                           (x * 53 + y * 97) % 256));
    }
    return img;
}

QByteArray be32(quint32 v)
{
    const quint32 big = qToBigEndian(v);
    return QByteArray(reinterpret_cast<const char *>(&big), 4);
}

// The data of `png`'s first chunk of `type`.
QByteArray chunkData(const QByteArray &png, const char *type)
{
    const qsizetype at = png.indexOf(type);
    return png.mid(at + 4, qFromBigEndian<quint32>(png.constData() + at - 4));
}

// `png` with a chunk of `type` and `data` in place of its first chunk of `at`, or before it
// unless `replace`; the new chunk's CRC is right unless `badCrc`.
QByteArray spliced(QByteArray png, const char *at, bool replace, const char *type,
                   const QByteArray &data, bool badCrc = false)
{
    const qsizetype start = png.indexOf(at) - 4;
    const qsizetype old = replace ? 12 + qFromBigEndian<quint32>(png.constData() + start) : 0;
    png.replace(start, old, be32(data.size()) + type + data + be32(0));
    return badCrc ? png : withChunk(png, type, [](QByteArray &) {});
}
QByteArray withData(const QByteArray &png, const char *type, const QByteArray &data)
{
    return spliced(png, type, true, type, data);
}

} // namespace

class TestPngSource : public QObject
{
    Q_OBJECT
private slots:
    void matchesQt_data();
    void matchesQt();
    void refuses_data();
    void refuses();
    void largeFile();
};

// Every colour type and depth, from Qt's writer, Pillow and ImageMagick, in every layout and
// in bands of several sizes, against Qt's own reading of the file; interlaced ones also
// against their twin without interlacing (Adam7 passes of pictures smaller than its 8 x 8
// tile have no rows or no columns); and chunks libpng finds fault with that change no pixel.
void TestPngSource::matchesQt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QImage p = pattern(37, 23);
    for (const auto &[name, format] : {std::pair("Qt RGB", QImage::Format_RGB32),
                                       {"Qt RGBA", QImage::Format_ARGB32},
                                       {"Qt palette, tRNS", QImage::Format_Indexed8},
                                       {"Qt 8-bit grey", QImage::Format_Grayscale8},
                                       {"Qt 16-bit grey", QImage::Format_Grayscale16},
                                       {"Qt 16-bit RGBA", QImage::Format_RGBA64},
                                       {"Qt 1-bit", QImage::Format_Mono}})
        QTest::newRow(name) << saved(p.convertToFormat(format), "PNG");
    QTest::newRow("profile that is none, after the pixels")
        << spliced(saved(p, "PNG"), "IEND", false, "iCCP", QByteArray("x\0\0", 3));
    for (const QString &name : QDir(QFINDTESTDATA("data/png")).entryList({"*.png"}))
        QTest::newRow(qPrintable(name)) << testData("png/" + name);
}

void TestPngSource::matchesQt()
{
    QFETCH(QByteArray, bytes);
    QString name = QString::fromLatin1(QTest::currentDataTag());
    const int greyKey = name == QLatin1String("gray-trns.png") ? 100 : -1;
    const QByteArray twin = name.contains(QLatin1String("-interlaced"))
                                ? testData("png/" + name.remove("-interlaced"))
                                : "";
    const bool alpha = QImage::fromData(bytes).hasAlphaChannel();
    InputFile in(bytes, QStringLiteral("x.png"));
    const std::unique_ptr<PictureSource> source = openPicture(in, in.path());
    QCOMPARE(source->hasAlpha(), alpha);
    QCOMPARE(source->interlaced(), bytes[28] == 1);
    QCOMPARE(source->nativeLayout(), alpha ? RowLayout::Bgra32 : RowLayout::Bgr24);
    // Bottom-up asked for: a PNG's rows come top-down all the same.
    for (const int maxRows : {1, 3, 100})
        for (const RowLayout layout : Layouts) {
            const QImage got = readBands(bytes, in.path(), layout, maxRows, false);
            QCOMPARE(got, qtReading(bytes, layout, greyKey));
            if (!twin.isEmpty())
                QCOMPARE(got, readBands(twin, in.path(), layout, 2));
        }
    // The whole-picture read puts an interlaced file's passes together.
    QCOMPARE(decodePicture(bytes, in.path(), PictureAlpha::Keep),
             qtReading(bytes, RowLayout::Bgra32, greyKey));
}

void TestPngSource::refuses_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("why");
    const QByteArray png = saved(pattern(16, 8), "PNG");
    const QByteArray idat = chunkData(png, "IDAT"); // Qt writes one, right before IEND
    const QByteArray raw = qUncompress(be32(8 * (1 + 16 * 4)) + idat);
    const QByteArray pal = testData("png/palette-trns.png"); // 12 colours, 5 alphas
    const QByteArray ihdr = chunkData(png, "IHDR");
    // Stored, not compressed: a changed byte leaves the stream valid, and only its Adler-32
    // checksum tells. ImageMagick, Pillow and OpenCV refuse such a file too.
    QByteArray stored = qCompress(raw, 0).mid(4); // zlib's stream, without Qt's length
    stored[stored.size() / 2] = char(stored[stored.size() / 2] ^ 0x10);
    QTest::newRow("IDAT checksum wrong, CRC right")
        << withData(png, "IDAT", stored) << "is damaged (IDAT: incorrect data check)";
    QByteArray badCrc = png;
    badCrc[png.indexOf("IEND") - 5] ^= 1;
    QTest::newRow("IDAT CRC") << badCrc << "is damaged (IDAT: CRC error)";
    QTest::newRow("skipped profile's CRC")
        << spliced(png, "IDAT", false, "iCCP", "x", true) << "is damaged (iCCP: CRC error)";
    QTest::newRow("cut in IDAT") << png.left(png.size() - 12 - 20) << "is damaged (cut short)";
    QTest::newRow("no IEND") << png.left(png.size() - 12) << "is damaged (cut short)";
    QTest::newRow("too much image data")
        << withData(png, "IDAT", qCompress(raw + raw.left(65)).mid(4))
        << "is damaged (IDAT: Too much image data)";
    QTest::newRow("too little image data")
        << withData(png, "IDAT", qCompress(raw.chopped(65)).mid(4))
        << "is damaged (Not enough image data)";
    QTest::newRow("IDAT after the stream")
        << QByteArray(png).insert(png.indexOf("IEND") - 4,
                                  png.mid(png.indexOf("IDAT") - 4, idat.size() + 12))
        << "is damaged (IDAT: image data after the last row)";
    QTest::newRow("tRNS longer than the palette")
        << withData(pal, "tRNS", QByteArray(13, 0)) << "is damaged (tRNS: invalid)";
    // libpng only warns of a transparent grey no pixel of the depth can have.
    QTest::newRow("tRNS grey past the depth")
        << spliced(testData("png/gray1.png"), "IDAT", false, "tRNS", QByteArray("\0\2", 2))
        << "is damaged (tRNS chunk has out-of-range samples";
    QTest::newRow("index past the palette") // the highest index is 11
        << withData(pal, "PLTE", chunkData(pal, "PLTE").left(33)) << "past its palette of 11)";
    QTest::newRow("width 0") << withData(png, "IHDR", be32(0) + ihdr.mid(4))
                             << "is not a valid picture (0 x 8 pixels)";
    QTest::newRow("16384 x 16384 in a few bytes")
        << withData(png, "IHDR", be32(16384) + be32(16384) + ihdr.mid(8))
        << "declares 16384 x 16384 pixels";
}

// Refused with libpng's complaint, and before anything of the declared size is allocated.
void TestPngSource::refuses()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, why);
    VERIFY_ERROR(why.startsWith(QLatin1String("is not")) ? RunError::InvalidPicture
                                                         : RunError::DamagedPicture,
                 why, [&] { decodePicture(bytes, QStringLiteral("hero.png")); });
}

// A picture of 24 MB from a file many times the reader's chunk, through bands of a few rows:
// Qt's pixels, for a few rows' worth of memory. Then another program shortens the file
// while it is read: the file's own error comes back through libpng's frames.
void TestPngSource::largeFile()
{
    const int w = 3000, h = 2000;
    const QImage big = pattern(w, h);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.png"));
    writeFile(path, saved(big, "PNG"));
    QVERIFY(QFileInfo(path).size() > 8 * (64 << 10));
    int reads = 0;
    InputFile::setReadHook([&](const QString &, qint64) { ++reads; });
    watchAllocations();
    InputFile in(path);
    const std::unique_ptr<PictureSource> source = openPicture(in, path);
    source->start(RowLayout::Bgra32, true);
    QByteArray rows(5 * w * 4, '\0');
    int y = 0;
    for (Band b; (b = source->nextBand(5)).rows > 0; y += b.rows) {
        QCOMPARE(b.y0, y);
        source->readBand(reinterpret_cast<uchar *>(rows.data()), w * 4);
        QVERIFY(std::memcmp(rows.constData(), big.constScanLine(y), b.rows * w * 4) == 0);
    }
    source->finish();
    QVERIFY(reads > 8);
    VERIFY_ALLOCATED_LITTLE();
    InputFile::setReadHook([&](const QString &, qint64) { QFile::resize(path, 300 << 10); });
    QVERIFY_THROWS_EXCEPTION(RunError, readPicture(path));
    InputFile::setReadHook({});
}

QTEST_GUILESS_MAIN(TestPngSource)
#include "tst_pngsource.moc"
