#include "PictureIO.h"
#include "PictureSource.h"
#include "RunError.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QColorSpace>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC ships no header for it): calls back on every allocation.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
#endif

namespace
{

std::atomic<size_t> g_largestAllocation{0};

const RowLayout Layouts[] = {RowLayout::Bgrx32, RowLayout::Bgra32, RowLayout::Bgr24};

// Bgrx32 is compared as ARGB32, so that its 0xFF bytes are compared too.
QImage::Format formatOf(RowLayout layout)
{
    return layout == RowLayout::Bgr24 ? QImage::Format_BGR888 : QImage::Format_ARGB32;
}

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
    return img
        .convertToFormat(layout == RowLayout::Bgrx32 ? QImage::Format_RGB32 : formatOf(layout))
        .convertToFormat(formatOf(layout));
}

QByteArray dataFile(const QString &name)
{
    return readFile(QFINDTESTDATA(QStringLiteral("data/png/") + name));
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

quint32 crc32(const QByteArray &bytes)
{
    quint32 c = 0xFFFFFFFFu;
    for (const char ch : bytes)
        for (int k = 0, b = uchar(ch); k < 8; ++k, b >>= 1)
            c = ((c ^ b) & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    return ~c;
}

// A PNG file's chunks, to take apart and put together again with right or wrong CRCs.
struct Png {
    struct Chunk {
        QByteArray type, data;
        bool badCrc = false;
    };
    QList<Chunk> chunks;

    explicit Png(const QByteArray &file)
    {
        for (qsizetype p = 8, n = 0; p + 12 <= file.size(); p += 12 + n) {
            n = qFromBigEndian<quint32>(file.constData() + p);
            chunks.append({file.mid(p + 4, 4), file.mid(p + 8, n)});
        }
    }
    Chunk &operator[](const char *type)
    {
        return *std::find_if(chunks.begin(), chunks.end(),
                             [&](const Chunk &c) { return c.type == type; });
    }
    Png &set(const char *type, const QByteArray &data) { return (*this)[type].data = data, *this; }
    Png &breakCrc(const char *type) { return (*this)[type].badCrc = true, *this; }
    Png &insert(const char *before, const Chunk &c)
    {
        return chunks.insert(&(*this)[before] - chunks.data(), c), *this;
    }
    QByteArray bytes() const
    {
        QByteArray out("\x89PNG\r\n\x1a\n");
        for (const Chunk &c : chunks)
            out += be32(c.data.size()) + c.type + c.data + be32(crc32(c.type + c.data) ^ c.badCrc);
        return out;
    }
};

QByteArray zlib(const QByteArray &raw, int level = 9)
{
    return qCompress(raw, level).mid(4);
}

// The whole picture read through the source's bands, at most `maxRows` rows each, in
// `layout`; the rows of a file without interlacing must come top-down, whole.
QImage readAll(const QByteArray &bytes, RowLayout layout, int maxRows = 2)
{
    InputFile in(bytes, QStringLiteral("x.png"));
    const std::unique_ptr<PictureSource> source = openPicture(in, in.path());
    const int w = source->width(), h = source->height(), bpp = bytesPerPixel(layout);
    source->start(layout, false); // bottom-up asked for: a PNG's rows come top-down anyway
    QImage image(w, h, formatOf(layout));
    image.fill(0x5A); // a pixel no band writes shows
    QByteArray rows;
    int nextY = 0;
    for (Band b; (b = source->nextBand(maxRows)).rows > 0; nextY = b.y0 + b.rows) {
        if (b.rows > maxRows ||
            (!source->interlaced() && (b.dy != 1 || b.y0 != nextY || !b.wholeRows(w))))
            qFatal("rows out of order");
        const qsizetype rowBytes = qsizetype(b.pixels) * bpp;
        rows.resize(rowBytes * b.rows);
        source->readBand(reinterpret_cast<uchar *>(rows.data()), rowBytes);
        for (int i = 0; i < b.pixels * b.rows; ++i) {
            const int x = b.x0 + i % b.pixels * b.dx, y = b.y0 + i / b.pixels * b.dy;
            std::memcpy(image.scanLine(y) + x * bpp, rows.constData() + i * bpp, size_t(bpp));
        }
    }
    source->finish();
    return source->topDown() ? image : QImage();
}

} // namespace

class TestPngSource : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void matchesQt_data();
    void matchesQt();
    void refuses_data();
    void refuses();
    void largeFile();

private:
    QTemporaryDir m_dir;
};

void TestPngSource::initTestCase()
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

// Every colour type and depth, from Qt's writer, Pillow and ImageMagick, in every layout and
// in bands of several sizes, against Qt's own reading of the file; interlaced ones also
// against their twin without interlacing (Adam7 passes of pictures smaller than its 8 x 8
// tile have no rows or no columns); and chunks libpng finds fault with that change no pixel.
void TestPngSource::matchesQt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QImage p = pattern(37, 23);
    const auto qt = [&](QImage::Format format) { return saved(p.convertToFormat(format), "PNG"); };
    QTest::newRow("Qt RGB") << qt(QImage::Format_RGB32);
    QTest::newRow("Qt RGBA") << qt(QImage::Format_ARGB32);
    QTest::newRow("Qt palette, tRNS") << qt(QImage::Format_Indexed8);
    QTest::newRow("Qt 8-bit grey") << qt(QImage::Format_Grayscale8);
    QTest::newRow("Qt 16-bit grey") << qt(QImage::Format_Grayscale16);
    QTest::newRow("Qt 16-bit RGBA") << qt(QImage::Format_RGBA64);
    QTest::newRow("Qt 1-bit") << qt(QImage::Format_Mono);
    QTest::newRow("profile that is none, after the pixels")
        << Png(qt(QImage::Format_RGB32)).insert("IEND", {"iCCP", QByteArray("x\0\0", 3)}).bytes();
    for (const char *name :
         {"gray-alpha.png", "palette-trns.png", "gray-trns.png", "rgb-trns.png",
          "gray-rgb-profile.png", "gray1.png", "gray2.png", "gray4.png", "rgb16.png", "rgba16.png",
          "rgba16-interlaced.png", "rgba-1x1-interlaced.png", "rgba-2x2-interlaced.png",
          "rgba-3x5-interlaced.png", "rgba-37x23-interlaced.png", "gray1-interlaced.png",
          "palette8-interlaced.png"})
        QTest::newRow(name) << dataFile(QLatin1String(name));
}

void TestPngSource::matchesQt()
{
    QFETCH(QByteArray, bytes);
    QString name = QString::fromLatin1(QTest::currentDataTag());
    const int greyKey = name == QLatin1String("gray-trns.png") ? 100 : -1;
    const QByteArray twin =
        name.contains(QLatin1String("-interlaced")) ? dataFile(name.remove("-interlaced")) : "";
    const bool alpha = QImage::fromData(bytes).hasAlphaChannel();
    InputFile in(bytes, QStringLiteral("x.png"));
    const std::unique_ptr<PictureSource> source = openPicture(in, in.path());
    QCOMPARE(source->hasAlpha(), alpha);
    QCOMPARE(source->interlaced(), bytes[28] == 1);
    QCOMPARE(source->nativeLayout(), alpha ? RowLayout::Bgra32 : RowLayout::Bgr24);
    for (const int maxRows : {1, 3, 100})
        for (const RowLayout layout : Layouts) {
            const QImage got = readAll(bytes, layout, maxRows);
            QCOMPARE(got, qtReading(bytes, layout, greyKey));
            if (!twin.isEmpty())
                QCOMPARE(got, readAll(twin, layout));
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
    const QByteArray idat = Png(png)["IDAT"].data; // Qt writes one
    const QByteArray raw = qUncompress(be32(8 * (1 + 16 * 4)) + idat);
    const QByteArray pal = dataFile(QStringLiteral("palette-trns.png")); // 12 colours, 5 alphas
    const QByteArray ihdr = Png(png)["IHDR"].data;
    // Stored, not compressed: a changed byte leaves the stream valid, and only its Adler-32
    // checksum tells. ImageMagick, Pillow and OpenCV refuse such a file too.
    QByteArray stored = zlib(raw, 0);
    stored[stored.size() / 2] = char(stored[stored.size() / 2] ^ 0x10);
    QTest::newRow("IDAT checksum wrong, CRC right")
        << Png(png).set("IDAT", stored).bytes() << "is damaged (IDAT: incorrect data check)";
    QTest::newRow("IDAT CRC") << Png(png).breakCrc("IDAT").bytes()
                              << "is damaged (IDAT: CRC error)";
    QTest::newRow("skipped profile's CRC")
        << Png(png).insert("IDAT", {"iCCP", "x", true}).bytes() << "is damaged (iCCP: CRC error)";
    QTest::newRow("cut in IDAT") << png.left(png.size() - 12 - 20) << "is damaged (cut short)";
    QTest::newRow("no IEND") << png.left(png.size() - 12) << "is damaged (cut short)";
    QTest::newRow("too much image data") << Png(png).set("IDAT", zlib(raw + raw.left(65))).bytes()
                                         << "is damaged (IDAT: Too much image data)";
    QTest::newRow("too little image data") << Png(png).set("IDAT", zlib(raw.chopped(65))).bytes()
                                           << "is damaged (Not enough image data)";
    QTest::newRow("IDAT after the stream") << Png(png).insert("IEND", {"IDAT", idat}).bytes()
                                           << "is damaged (IDAT: image data after the last row)";
    QTest::newRow("tRNS longer than the palette")
        << Png(pal).set("tRNS", QByteArray(13, 0)).bytes() << "is damaged (tRNS: invalid)";
    QTest::newRow("index past the palette")
        << Png(pal).set("PLTE", Png(pal)["PLTE"].data.left(18)).bytes() << "past its palette of 6)";
    QTest::newRow("width 0") << Png(png).set("IHDR", be32(0) + ihdr.mid(4)).bytes()
                             << "is not a valid picture (0 x 8 pixels)";
    QTest::newRow("16384 x 16384 in a few bytes")
        << Png(png).set("IHDR", be32(16384) + be32(16384) + ihdr.mid(8)).bytes()
        << "declares 16384 x 16384 pixels";
}

// Refused with libpng's complaint, and before anything of the declared size is allocated.
void TestPngSource::refuses()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, why);
    g_largestAllocation = 0;
    try {
        decodePicture(bytes, QStringLiteral("hero.png"));
        QFAIL("read");
    } catch (const RunError &e) {
        QVERIFY2(e.description().contains(why), qPrintable(e.description()));
        QCOMPARE(e.number() == RunError::InvalidPicture, why.startsWith(QLatin1String("is not")));
    }
#if defined(__SANITIZE_ADDRESS__)
    QVERIFY2(g_largestAllocation < (1 << 20), qPrintable(QString::number(g_largestAllocation)));
#endif
}

// A picture of 24 MB from a file many times the reader's chunk, through bands of a few rows:
// Qt's pixels, for a few rows' worth of memory. Then another program shortens the file
// while it is read: the file's own error comes back through libpng's frames.
void TestPngSource::largeFile()
{
    const int w = 3000, h = 2000;
    const QImage big = pattern(w, h);
    const QString path = m_dir.filePath(QStringLiteral("big.png"));
    writeFile(path, saved(big, "PNG"));
    QVERIFY(QFileInfo(path).size() > 8 * (64 << 10));
    int reads = 0;
    InputFile::setReadHook([&](const QString &, qint64) { ++reads; });
    g_largestAllocation = 0;
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
#if defined(__SANITIZE_ADDRESS__)
    QVERIFY2(g_largestAllocation < (1 << 20), qPrintable(QString::number(g_largestAllocation)));
#endif
    InputFile::setReadHook([&](const QString &, qint64) { QFile::resize(path, 300 << 10); });
    QVERIFY_THROWS_EXCEPTION(RunError, readPicture(path));
    InputFile::setReadHook({});
}

QTEST_GUILESS_MAIN(TestPngSource)
#include "tst_pngsource.moc"
