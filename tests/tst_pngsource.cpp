#include "PictureIO.h"
#include "PictureSource.h"
#include "RunError.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <cstring>
#include <functional>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC ships no header for it): calls back on every allocation.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
#endif

namespace
{

std::atomic<size_t> g_largestAllocation{0};

const RowLayout Layouts[] = {RowLayout::Bgrx32, RowLayout::Bgra32, RowLayout::Bgr24};

QImage::Format formatOf(RowLayout layout)
{
    return layout == RowLayout::Bgrx32   ? QImage::Format_RGB32
           : layout == RowLayout::Bgra32 ? QImage::Format_ARGB32
                                         : QImage::Format_BGR888;
}

// Qt's reading of a file in a layout's format, without the colour space Qt takes from the
// file's profile chunks: that is not part of the pixels. Qt turns the pixels of a grey
// picture's transparent grey `greyKey` black; libpng, and this program, keep their grey.
QImage qtReading(const QByteArray &bytes, RowLayout layout, int greyKey = -1)
{
    QImage img = QImage::fromData(bytes).convertToFormat(QImage::Format_ARGB32);
    img.setColorSpace(QColorSpace());
    for (int y = 0; greyKey >= 0 && y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == 0)
                img.setPixel(x, y, qRgba(greyKey, greyKey, greyKey, 0));
    img = img.convertToFormat(formatOf(layout));
    return layout == RowLayout::Bgrx32 ? img.convertToFormat(QImage::Format_ARGB32) : img;
}

QByteArray dataFile(const QString &name)
{
    const QByteArray bytes = readFile(QFINDTESTDATA(QStringLiteral("data/png/") + name));
    if (bytes.isEmpty())
        qFatal("no test file %s", qPrintable(name));
    return bytes;
}

// Channels that differ across the picture and from each other, alpha from clear to opaque.
QImage pattern(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y,
                         qRgba((x * 29 + y * 7) % 256, (y * 41 + 3 * x) % 256,
                               (x * y * 13 + 90) % 256, (x * 53 + y * 97) % 256));
    return img;
}

// The chunks of a PNG file, to take apart and put together again with right or wrong CRCs.
struct Chunk {
    QByteArray type, data;
    bool badCrc = false;
};

quint32 crc32(const QByteArray &bytes)
{
    quint32 c = 0xFFFFFFFFu;
    for (const char ch : bytes) {
        c ^= uchar(ch);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

QList<Chunk> chunksOf(const QByteArray &png)
{
    QList<Chunk> out;
    for (qsizetype p = 8; p + 12 <= png.size();) {
        const qsizetype n = qFromBigEndian<quint32>(png.constData() + p);
        out.append({png.mid(p + 4, 4), png.mid(p + 8, n)});
        p += 12 + n;
    }
    return out;
}

QByteArray pngOf(const QList<Chunk> &chunks)
{
    QByteArray out("\x89PNG\r\n\x1a\n");
    for (const Chunk &c : chunks)
        out += be32(quint32(c.data.size())) + c.type + c.data +
               be32(crc32(c.type + c.data) ^ (c.badCrc ? 1 : 0));
    return out;
}

qsizetype indexOf(const QList<Chunk> &chunks, const char *type)
{
    for (qsizetype i = 0; i < chunks.size(); ++i)
        if (chunks[i].type == type)
            return i;
    return -1;
}

QByteArray edited(const QByteArray &png, const std::function<void(QList<Chunk> &)> &edit)
{
    QList<Chunk> chunks = chunksOf(png);
    edit(chunks);
    return pngOf(chunks);
}

QByteArray withChunk(const QByteArray &png, const char *before, const Chunk &chunk)
{
    return edited(png, [&](QList<Chunk> &c) { c.insert(indexOf(c, before), chunk); });
}

// A zlib stream, as IDAT chunks hold one.
QByteArray zlib(const QByteArray &raw, int level = 9)
{
    return qCompress(raw, level).mid(4);
}

// The filtered rows, `size` bytes of them, that the IDAT chunks of `png` hold.
QByteArray rawRows(const QByteArray &png, qsizetype size)
{
    QByteArray stream;
    for (const Chunk &c : chunksOf(png))
        if (c.type == "IDAT")
            stream += c.data;
    return qUncompress(be32(quint32(size)) + stream);
}

// `png` with its image data replaced by one IDAT holding `stream`.
QByteArray withImageData(const QByteArray &png, const QByteArray &stream)
{
    return edited(png, [&](QList<Chunk> &c) {
        const qsizetype at = indexOf(c, "IDAT");
        c.removeIf([](const Chunk &k) { return k.type == "IDAT"; });
        c.insert(at, {"IDAT", stream});
    });
}

// The whole picture read through the source's bands, at most `maxRows` rows each, in
// `layout`; every band must lie inside the picture and every pixel be written once.
QImage readAll(PictureSource &source, RowLayout layout, int maxRows)
{
    const int w = source.width(), h = source.height(), bpp = bytesPerPixel(layout);
    source.start(layout, false); // bottom-up asked for: a PNG's rows come top-down anyway
    if (!source.topDown())
        qFatal("rows not top-down");
    QImage image(w, h, formatOf(layout));
    QList<int> writes(qsizetype(w) * h, 0);
    QByteArray rows;
    int lastY = -1;
    for (Band b; (b = source.nextBand(maxRows)).rows > 0;) {
        if (b.rows > maxRows || b.y0 < 0 || b.dy < 1 || b.y0 + (b.rows - 1) * b.dy >= h ||
            b.x0 < 0 || b.dx < 1 || b.x0 + (b.pixels - 1) * b.dx >= w)
            qFatal("band outside the picture");
        if (!source.interlaced() && (b.dy != 1 || b.y0 != lastY + 1 || !b.wholeRows(w)))
            qFatal("rows out of order");
        lastY = b.y0 + b.rows - 1;
        const qsizetype rowBytes = qsizetype(b.pixels) * bpp;
        rows.resize(rowBytes * b.rows);
        source.readBand(reinterpret_cast<uchar *>(rows.data()), rowBytes);
        for (int r = 0; r < b.rows; ++r)
            for (int i = 0; i < b.pixels; ++i) {
                const int x = b.x0 + i * b.dx, y = b.y0 + r * b.dy;
                ++writes[qsizetype(y) * w + x];
                std::memcpy(image.scanLine(y) + x * bpp, rows.constData() + r * rowBytes + i * bpp,
                            size_t(bpp));
            }
    }
    source.finish();
    if (writes.count(1) != writes.size())
        qFatal("pixels missed or written twice");
    // Seen as ARGB32, so that the 0xFF of every pixel is compared too.
    if (layout == RowLayout::Bgrx32)
        image.reinterpretAsFormat(QImage::Format_ARGB32);
    return image;
}

QImage readAll(const QByteArray &bytes, RowLayout layout, int maxRows = 3)
{
    InputFile in(bytes, QStringLiteral("x.png"));
    const std::unique_ptr<PictureSource> source = openPicture(in, in.path());
    return readAll(*source, layout, maxRows);
}

int errorOf(const std::function<void()> &f, QString *description = nullptr)
{
    try {
        f();
    } catch (const RunError &e) {
        if (description)
            *description = e.description();
        return e.number();
    }
    return 0;
}

} // namespace

class TestPngSource : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void matchesQt_data();
    void matchesQt();
    void interlacedMatchesTwin_data();
    void interlacedMatchesTwin();
    void toleratesAncillaryComplaints_data();
    void toleratesAncillaryComplaints();
    void refuses_data();
    void refuses();
    void allocatesLittleForHugeClaims();
    void largeFileInChunks();
    void fileShrinkingWhileRead();

private:
    QTemporaryDir m_dir;
};

void TestPngSource::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Qt's reader passes on libpng's warnings about the chunks this program skips.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio.info=false"));
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

// Every colour type and depth, from Qt's writer, Pillow and ImageMagick, in every layout,
// against Qt's own reading of the file.
void TestPngSource::matchesQt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<bool>("interlaced");
    QTest::addColumn<int>("greyKey");
    const QImage p = pattern(37, 23);
    QImage indexed = p.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    indexed.setColor(1, qRgba(10, 20, 30, 0));
    indexed.setColor(2, qRgba(200, 100, 50, 128));
    const auto qt = [&](QImage::Format format) { return saved(p.convertToFormat(format), "PNG"); };
    QTest::newRow("Qt RGB") << qt(QImage::Format_RGB32) << false << false << -1;
    QTest::newRow("Qt RGBA") << saved(p, "PNG") << true << false << -1;
    QTest::newRow("Qt palette, tRNS") << saved(indexed, "PNG") << true << false << -1;
    QTest::newRow("Qt 8-bit grey") << qt(QImage::Format_Grayscale8) << false << false << -1;
    QTest::newRow("Qt 16-bit grey") << qt(QImage::Format_Grayscale16) << false << false << -1;
    QTest::newRow("Qt 16-bit RGBA") << qt(QImage::Format_RGBA64) << true << false << -1;
    QTest::newRow("Qt 1-bit") << qt(QImage::Format_Mono) << false << false << -1;
    const auto file = [](const char *name) { return dataFile(QLatin1String(name)); };
    QTest::newRow("Pillow grey + alpha") << file("gray-alpha.png") << true << false << -1;
    QTest::newRow("Pillow palette, tRNS") << file("palette-trns.png") << true << false << -1;
    QTest::newRow("Pillow grey, tRNS") << file("gray-trns.png") << true << false << 100;
    QTest::newRow("Pillow RGB, tRNS") << file("rgb-trns.png") << true << false << -1;
    QTest::newRow("Pillow grey, RGB profile")
        << file("gray-rgb-profile.png") << false << false << -1;
    QTest::newRow("IM 1-bit grey") << file("gray1.png") << false << false << -1;
    QTest::newRow("IM 2-bit grey") << file("gray2.png") << false << false << -1;
    QTest::newRow("IM 4-bit grey") << file("gray4.png") << false << false << -1;
    QTest::newRow("IM 16-bit RGB") << file("rgb16.png") << false << false << -1;
    QTest::newRow("IM 16-bit RGBA") << file("rgba16.png") << true << false << -1;
    QTest::newRow("IM 16-bit RGBA, interlaced")
        << file("rgba16-interlaced.png") << true << true << -1;
    QTest::newRow("IM RGBA, interlaced") << file("rgba-37x23-interlaced.png") << true << true << -1;
    QTest::newRow("IM 1-bit grey, interlaced")
        << file("gray1-interlaced.png") << false << true << -1;
    QTest::newRow("IM palette, tRNS, interlaced")
        << file("palette-trns-interlaced.png") << true << true << -1;
}

void TestPngSource::matchesQt()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, alpha);
    QFETCH(bool, interlaced);
    QFETCH(int, greyKey);
    InputFile in(bytes, QStringLiteral("x.png"));
    const std::unique_ptr<PictureSource> source = openPicture(in, in.path());
    QCOMPARE(source->hasAlpha(), alpha);
    QCOMPARE(source->interlaced(), interlaced);
    QCOMPARE(source->nativeLayout(), alpha ? RowLayout::Bgra32 : RowLayout::Bgr24);
    for (const RowLayout layout : Layouts)
        QCOMPARE(readAll(bytes, layout), qtReading(bytes, layout, greyKey));
    // The whole-picture read puts an interlaced file's passes together.
    QCOMPARE(decodePicture(bytes, in.path(), PictureAlpha::Keep),
             qtReading(bytes, RowLayout::Bgra32, greyKey));
}

// Adam7 passes of pictures smaller than the 8 x 8 tile, where passes have no rows or no
// columns, and of a larger one, against the same pixels written without interlacing.
void TestPngSource::interlacedMatchesTwin_data()
{
    QTest::addColumn<QByteArray>("interlaced");
    QTest::addColumn<QByteArray>("twin");
    QTest::addColumn<int>("maxRows");
    for (const QString size : {"1x1", "2x2", "3x5", "37x23"})
        QTest::newRow(qPrintable(size))
            << dataFile(QStringLiteral("rgba-%1-interlaced.png").arg(size))
            << dataFile(QStringLiteral("rgba-%1.png").arg(size)) << 2;
    const auto file = [](const char *name) { return dataFile(QLatin1String(name)); };
    QTest::newRow("37x23, a row at a time")
        << file("rgba-37x23-interlaced.png") << file("rgba-37x23.png") << 1;
    QTest::newRow("palette") << file("palette-trns-interlaced.png") << file("palette-trns-twin.png")
                             << 100;
    QTest::newRow("1-bit grey") << file("gray1-interlaced.png") << file("gray1.png") << 5;
    QTest::newRow("16-bit RGBA") << file("rgba16-interlaced.png") << file("rgba16.png") << 4;
}

void TestPngSource::interlacedMatchesTwin()
{
    QFETCH(QByteArray, interlaced);
    QFETCH(QByteArray, twin);
    QFETCH(int, maxRows);
    for (const RowLayout layout : Layouts)
        QCOMPARE(readAll(interlaced, layout, maxRows), readAll(twin, layout));
}

// Chunks whose content libpng finds fault with but which change no pixel: the picture
// still loads, with Qt's pixels.
void TestPngSource::toleratesAncillaryComplaints_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray rgb = saved(pattern(9, 4).convertToFormat(QImage::Format_RGB32), "PNG");
    const QByteArray profiled = dataFile(QStringLiteral("gray-rgb-profile.png"));
    const Chunk iccp = chunksOf(profiled)[indexOf(chunksOf(profiled), "iCCP")];
    QTest::newRow("RGB profile twice") << withChunk(withChunk(rgb, "IDAT", iccp), "IDAT", iccp);
    QTest::newRow("profile that is none")
        << withChunk(rgb, "IDAT", {"iCCP", QByteArray("x\0\0", 3) + zlib("not a profile")});
    QTest::newRow("gamma of 0") << withChunk(rgb, "IDAT", {"gAMA", be32(0)});
    QTest::newRow("sRGB intent 9") << withChunk(rgb, "IDAT", {"sRGB", QByteArray(1, 9)});
    QTest::newRow("chromaticities of 0") << withChunk(rgb, "IDAT", {"cHRM", QByteArray(32, 0)});
    QTest::newRow("text without a keyword, after the pixels")
        << withChunk(rgb, "IEND", {"tEXt", QByteArray("\0text", 5)});
    QTest::newRow("month 13") << withChunk(rgb, "IDAT", {"tIME", QByteArray(7, 13)});
    QTest::newRow("private chunk") << withChunk(rgb, "IDAT", {"prVt", "anything"});
    QTest::newRow("background past the palette")
        << withChunk(saved(pattern(9, 4).convertToFormat(QImage::Format_Indexed8), "PNG"), "IDAT",
                     {"bKGD", QByteArray(1, char(250))});
}

void TestPngSource::toleratesAncillaryComplaints()
{
    QFETCH(QByteArray, bytes);
    for (const RowLayout layout : Layouts)
        QCOMPARE(readAll(bytes, layout), qtReading(bytes, layout));
}

void TestPngSource::refuses_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("why");
    const int damaged = RunError::DamagedPicture, invalid = RunError::InvalidPicture;
    const QByteArray png = saved(pattern(16, 8), "PNG");
    const QByteArray raw = rawRows(png, 8 * (1 + 16 * 4));
    const QByteArray idat = zlib(raw);
    const auto badCrc = [&](const char *type) {
        return edited(png, [&](QList<Chunk> &c) { c[indexOf(c, type)].badCrc = true; });
    };
    const auto ihdr = [&](quint32 w, quint32 h) {
        return edited(png, [&](QList<Chunk> &c) { c[0].data.replace(0, 8, be32(w) + be32(h)); });
    };
    // Stored, not compressed: a changed byte leaves the stream valid, and only its Adler-32
    // checksum tells. ImageMagick and Pillow refuse such a file too.
    QByteArray stored = zlib(raw, 0);
    stored[stored.size() / 2] = char(stored[stored.size() / 2] ^ 0x10);

    QTest::newRow("IDAT checksum wrong, CRC right")
        << withImageData(png, stored) << damaged << "incorrect data check";
    QTest::newRow("IDAT CRC") << badCrc("IDAT") << damaged << "IDAT: CRC error";
    QTest::newRow("IHDR CRC") << badCrc("IHDR") << damaged << "IHDR: CRC error";
    QTest::newRow("IEND CRC") << badCrc("IEND") << damaged << "IEND: CRC error";
    QTest::newRow("text CRC before the pixels")
        << withChunk(png, "IDAT", {"tEXt", QByteArray("Title\0x", 7), true}) << damaged
        << "tEXt: CRC error";
    QTest::newRow("profile CRC") << withChunk(png, "IDAT", {"iCCP", "x", true}) << damaged
                                 << "iCCP: CRC error";
    QTest::newRow("private chunk CRC after the pixels")
        << withChunk(png, "IEND", {"prVt", "x", true}) << damaged << "prVt: CRC error";
    QTest::newRow("cut in IDAT") << png.left(png.size() - 12 - 20) << damaged << "cut short";
    QTest::newRow("no IEND") << png.left(png.size() - 12) << damaged << "cut short";
    QTest::newRow("too much image data")
        << withImageData(png, zlib(raw + raw.left(65))) << damaged << "Too much image data";
    QTest::newRow("too little image data")
        << withImageData(png, zlib(raw.chopped(65))) << damaged << "Not enough image data";
    QTest::newRow("bytes after the stream, same IDAT")
        << withImageData(png, idat + "junk") << damaged << "Extra compressed data";
    QTest::newRow("IDAT after the stream")
        << withChunk(png, "IEND", {"IDAT", idat}) << damaged << "image data after the last row";
    QTest::newRow("unknown row filter") << withImageData(png, zlib(QByteArray(1, 7) + raw.mid(1)))
                                        << damaged << "bad adaptive filter value";
    QImage indexed(9, 4, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9), qRgb(10, 11, 12)});
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            indexed.setPixel(x, y, (x + y) % 4);
    const QByteArray pal = saved(indexed, "PNG");
    QTest::newRow("tRNS longer than the palette")
        << withChunk(pal, "IDAT", {"tRNS", QByteArray(5, 0)}) << damaged << "tRNS: invalid";
    QTest::newRow("index past the palette")
        << edited(pal, [](QList<Chunk> &c) { c[indexOf(c, "PLTE")].data.chop(3); }) << damaged
        << "past its palette";
    QTest::newRow("width 0") << ihdr(0, 8) << invalid << "0 x 8";
    QTest::newRow("height 0") << ihdr(16, 0) << invalid << "16 x 0";
    QTest::newRow("16384 x 16384 in a few bytes")
        << ihdr(16384, 16384) << damaged << "declares 16384 x 16384 pixels";
    QTest::newRow("20000 x 20000") << ihdr(20000, 20000) << int(RunError::OutOfMemory) << "";
}

void TestPngSource::refuses()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, number);
    QFETCH(QString, why);
    QString description;
    QCOMPARE(errorOf([&] { decodePicture(bytes, QStringLiteral("hero.png")); }, &description),
             number);
    QVERIFY2(description.contains(why), qPrintable(description));
    if (number == RunError::DamagedPicture && !why.startsWith(QLatin1String("declares")))
        QVERIFY2(description.contains(QLatin1String("hero.png is damaged (")),
                 qPrintable(description));
}

// A few dozen bytes that declare a picture of 16384 x 16384 are refused before anything
// of that size is allocated.
void TestPngSource::allocatesLittleForHugeClaims()
{
#if !defined(__SANITIZE_ADDRESS__)
    QSKIP("allocations are watched through the address sanitizer's hooks");
#else
    const QByteArray png = edited(saved(pattern(2, 2), "PNG"), [](QList<Chunk> &c) {
        c[0].data.replace(0, 8, be32(16384) + be32(16384));
    });
    g_largestAllocation = 0;
    QCOMPARE(errorOf([&] { decodePicture(png, QStringLiteral("claim.png")); }),
             int(RunError::DamagedPicture));
    QVERIFY2(g_largestAllocation < (1 << 20), qPrintable(QString::number(g_largestAllocation)));
#endif
}

// A picture of 24 MB from a file many times the reader's chunk, through bands of a few rows:
// the pixels are Qt's, and the memory a few rows' worth.
void TestPngSource::largeFileInChunks()
{
    const int w = 3000, h = 2000;
    QImage big(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(big.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgba(x * y % 251, (x ^ y) & 0xFF, x / 12, y % 200 + x % 56);
    }
    const QString path = m_dir.filePath(QStringLiteral("big.png"));
    writeFile(path, saved(big, "PNG"));
    QVERIFY(QFileInfo(path).size() > 8 * (64 << 10));
    int reads = 0;
    InputFile::setReadHook([&](const QString &, qint64) { ++reads; });
    InputFile in(path);
    const std::unique_ptr<PictureSource> source = openPicture(in, path);
    source->start(RowLayout::Bgra32, true);
    QByteArray rows(5 * w * 4, '\0');
    g_largestAllocation = 0;
    int y = 0;
    for (Band b; (b = source->nextBand(5)).rows > 0; y += b.rows) {
        QCOMPARE(b.y0, y);
        source->readBand(reinterpret_cast<uchar *>(rows.data()), w * 4);
        for (int r = 0; r < b.rows; ++r)
            QVERIFY(std::memcmp(rows.constData() + r * w * 4, big.constScanLine(y + r), w * 4) ==
                    0);
    }
    source->finish();
    InputFile::setReadHook({});
    QCOMPARE(y, h);
    QVERIFY(reads > 8);
#if defined(__SANITIZE_ADDRESS__)
    QVERIFY2(g_largestAllocation < (1 << 20), qPrintable(QString::number(g_largestAllocation)));
#endif
}

// Another program shortens the file while it is read: the file's own error comes back
// through libpng, and nothing is leaked.
void TestPngSource::fileShrinkingWhileRead()
{
    const QString path = m_dir.filePath(QStringLiteral("shrinks.png"));
    QImage big(1000, 600, QImage::Format_RGB32);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 1000; ++x)
            big.setPixel(x, y, qRgb(x * y % 253, (x * 7) ^ y, y % 256));
    writeFile(path, saved(big, "PNG"));
    QVERIFY(QFileInfo(path).size() > 4 * (64 << 10));
    int calls = 0;
    InputFile::setReadHook([&](const QString &, qint64) {
        if (calls++ == 2)
            QVERIFY(QFile::resize(path, 100 << 10));
    });
    QString description;
    const int got = errorOf([&] { readPicture(path); }, &description);
    InputFile::setReadHook({});
    QCOMPARE(got, int(RunError::DamagedPicture));
    QVERIFY2(description.endsWith(QLatin1String("changed while it was read")),
             qPrintable(description));
}

QTEST_GUILESS_MAIN(TestPngSource)
#include "tst_pngsource.moc"
