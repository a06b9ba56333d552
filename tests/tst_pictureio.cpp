#include "PictureIO.h"
#include "RunError.h"
#include "TestPictures.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <functional>
#include <unistd.h>

namespace
{

QByteArray saved(const QImage &img, const char *format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, format, quality);
    return bytes;
}

// headerTail extends the 40-byte info header (the V4 masks); the palette follows it.
QByteArray bmp(int w, int h, int bpp, int compression, const QByteArray &pixels,
               int paletteSize = 0, const QByteArray &headerTail = {})
{
    QByteArray out;
    const int offset = 54 + headerTail.size() + 4 * paletteSize;
    const int tail = headerTail.size(), size = pixels.size();
    put(out, 0x4D42, 2);
    for (int v : {offset + size, 0, offset, 40 + tail, w, h, 1 | bpp << 16, compression, size, 2835,
                  2835, paletteSize, 0})
        put(out, v, 4);
    out += headerTail;
    for (int i = 0; i < paletteSize; ++i)
        put(out, colour(i), 4);
    return out + pixels;
}

// The sample's rows as 8-bit indices, 24/32-bit BGR(A) pixels, or RLE8 runs of one pixel
// closed by end-of-line and end-of-bitmap codes.
QByteArray rows(int bpp, bool bottomUp, bool rle = false)
{
    QByteArray out;
    for (int r = 0; r < 3; ++r) {
        QByteArray row;
        for (int x = 0, i = 5 * (bottomUp ? 2 - r : r); x < 5; ++x, ++i)
            put(row,
                bpp == 8 ? (rle ? 1 | i << 8 : i) : (colour(i) & 0xffffff) | quint32(i * 18) << 24,
                rle ? 2 : bpp / 8);
        out += row + (rle ? QByteArray(1, '\0') + char(r == 2)
                          : QByteArray((4 - row.size() % 4) % 4, '\0'));
    }
    return out;
}

int errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RunError &e) {
        return e.number();
    }
    return 0;
}

} // namespace

class TestPictureIO : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void loads_data();
    void loads();
    void refuses_data();
    void refuses();
    void writesBmp_data();
    void writesBmp();

private:
    QString file(const QString &name, const QByteArray &bytes)
    {
        writeFile(m_dir.filePath(name), bytes);
        return m_dir.filePath(name);
    }
    QTemporaryDir m_dir;
};

void TestPictureIO::loads_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("expected");
    QTest::addColumn<int>("tolerance");
    const QByteArray alphaMasks("\0\0\xFF\0\0\xFF\0\0\xFF\0\0\0\0\0\0\xFF", 16);
    QImage flat(16, 16, QImage::Format_RGB32);
    flat.fill(qRgb(200, 60, 30));
    QTest::newRow("24-bit bmp") << saved(sample(), "BMP") << sample() << 0;
    QTest::newRow("8-bit palette bmp") << bmp(5, 3, 8, 0, rows(8, true), 16) << sample() << 0;
    QTest::newRow("rle8 bmp") << bmp(5, 3, 8, 1, rows(8, true, true), 16) << sample() << 0;
    QTest::newRow("top-down bmp") << bmp(5, -3, 24, 0, rows(24, false)) << sample() << 0;
    QTest::newRow("32-bit bmp, alpha dropped")
        << bmp(5, 3, 32, 3, rows(32, true), 0, alphaMasks + QByteArray(52, '\0')) << sample() << 0;
    QTest::newRow("gif") << gif() << sample() << 0;
    QTest::newRow("jpeg") << saved(flat, "JPG", 100) << flat << 3;
    QTest::newRow("png") << saved(sample(), "PNG") << sample() << 0;
}

void TestPictureIO::loads()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);
    QFETCH(int, tolerance);
    const QImage got = readPicture(file(QStringLiteral("in.pic"), bytes));
    QCOMPARE(got.format(), QImage::Format_RGB32);
    QCOMPARE(got.size(), expected.size());
    for (int i = 0; i < got.width() * got.height(); ++i) {
        const QRgb a = got.pixel(i % got.width(), i / got.width());
        const QRgb b = expected.pixel(i % got.width(), i / got.width());
        for (int off : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)})
            QVERIFY2(qAbs(off) <= tolerance, qPrintable(QString::number(i)));
    }
}

void TestPictureIO::refuses_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("number");
    // Large enough that each cut lands in the pixel data rather than the headers.
    const QImage big = sample().scaled(64, 64);
    const QByteArray bmp24 = saved(big, "BMP"), jpeg = saved(big, "JPG", 90), g = gif();
    QTest::newRow("missing file") << "absent.bmp" << QByteArray() << 53;
    QTest::newRow("text named .bmp") << "x.bmp" << QByteArray("not a picture\n") << 481;
    QTest::newRow("empty .bmp") << "empty.bmp" << QByteArray("") << 481;
    QTest::newRow("bmp cut in half") << "half.bmp" << bmp24.left(bmp24.size() / 2) << 481;
    QTest::newRow("jpeg cut at 60%") << "cut.jpg" << jpeg.left(jpeg.size() * 6 / 10) << 481;
    QTest::newRow("gif cut in its codes") << "cut.gif" << g.left(g.size() - 8) << 481;
    QTest::newRow("20000 x 20000 header only") << "huge.bmp" << bmp(20000, 20000, 24, 0, {}) << 7;
    QTest::newRow("20000 x 20000 rle header only")
        << "huge-rle.bmp" << bmp(20000, 20000, 8, 1, {}, 16) << 7;
    QTest::newRow("folder") << "folder.bmp" << QByteArray() << 70;
}

void TestPictureIO::refuses()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, number);
    const QString path = m_dir.filePath(name);
    if (number == RunError::PermissionDenied)
        QVERIFY(QDir().mkpath(path));
    else if (number != RunError::FileNotFound)
        file(name, bytes);
    QCOMPARE(errorOf([&] { readPicture(path); }), number);
}

void TestPictureIO::writesBmp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("replacing");
    QTest::addColumn<int>("number");
    QTest::newRow("extension says jpeg") << "mask.jpg" << false << 0;
    QTest::newRow("over an existing file") << "x.bmp" << true << 0;
    QTest::newRow("missing folder") << "absent/x.bmp" << false << 76;
    QTest::newRow("read-only folder") << "x.bmp" << false << 70;
}

void TestPictureIO::writesBmp()
{
    QFETCH(QString, name);
    QFETCH(bool, replacing);
    QFETCH(int, number);
    if (number == RunError::PermissionDenied && geteuid() == 0)
        QSKIP("permissions do not bind root");
    // Each row writes into a folder of its own so leftovers show in its listing.
    const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + '/' + name;
    if (replacing)
        QVERIFY(QFile(path).open(QIODevice::WriteOnly) && QFile(path).resize(4096));
    if (number == RunError::PermissionDenied)
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const int got = errorOf([&] { writeBmp(sample(), path); });
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(got, number);
    const QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                    QDir::Hidden | QDir::System);
    QCOMPARE(left, number ? QStringList() : QStringList{name});
    if (number)
        return;
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray head = f.read(6);
    QVERIFY(head.startsWith("BM"));
    // Nothing may remain of an older, longer file.
    QCOMPARE(f.size(), qFromLittleEndian<quint32>(head.constData() + 2));
    QCOMPARE(readPicture(path), sample());
}

QTEST_MAIN(TestPictureIO)
#include "tst_pictureio.moc"
