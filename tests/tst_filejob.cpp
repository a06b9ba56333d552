#include "FileJob.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace
{

class Recorder : public JobObserver
{
public:
    void progress(int percent) override { seen.append(percent), onProgress(); }
    bool stopRequested() override { return seen.size() >= stopAfter; }
    QList<int> seen;
    qsizetype stopAfter = 1 << 30;
    std::function<void()> onProgress = [] {};
};

} // namespace

Q_DECLARE_METATYPE(FileJob::Outcome)
Q_DECLARE_METATYPE(MaskOutput)

class TestFileJob : public QObject
{
    Q_OBJECT
private slots:
    void masks_data();
    void masks();
    void spritesOfManySizes_data();
    void spritesOfManySizes();
    void interrupted_data();
    void interrupted();
    void diskFull_data();
    void diskFull();

private:
    QTemporaryDir m_dir;
};

// One row for each kind of mask file.
static void kindRows()
{
    QTest::addColumn<MaskOutput>("kind");
    QTest::newRow("bmp") << MaskOutput{MaskFormat::Bmp, 24};
    QTest::newRow("1-bit bmp") << MaskOutput{MaskFormat::Bmp, 1};
    QTest::newRow("png") << MaskOutput{MaskFormat::Png, 24};
    QTest::newRow("1-bit png") << MaskOutput{MaskFormat::Png, 1};
}

// Every kind of sprite file gives the bytes the window's writer gives for the reference
// mask: streamed BMPs in one block or many, in either row order, and decoded pictures. Every
// other kind of mask, read back by Qt's own readers, is the reference mask too, also from
// sprites whose rows come only bottom-up (run-length files).
void TestFileJob::masks_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QImage>("sprite");
    QTest::addColumn<MaskOutput>("kind");
    QTest::addColumn<int>("blocks"); // progress reports at the least
    const QImage small = randomSprite(37, 23, 0x102030, 1);
    // Wider than a block holds in one row band: 1.3 MB of rows.
    const QImage sheet = randomSprite(701, 620, 0x102030, 2);
    const QImage unpadded = randomSprite(36, 5, 0x102030, 3); // rows of whole words
    const QByteArray rle8 = bmp(5, 3, 8, 1, rows(8, true, true), 16);
    const MaskOutput window;
    QTest::newRow("24-bit, bottom-up") << packed(small, 24, false) << small << window << 1;
    QTest::newRow("24-bit, no padding") << packed(unpadded, 24, false) << unpadded << window << 1;
    QTest::newRow("32-bit, top-down") << packed(small, 32, true) << small << window << 1;
    QTest::newRow("24-bit sheet, bottom-up") << packed(sheet, 24, false) << sheet << window << 2;
    QTest::newRow("24-bit sheet, top-down") << packed(sheet, 24, true) << sheet << window << 2;
    QTest::newRow("png") << saved(small, "PNG") << small << window << 1;
    QTest::newRow("rle8") << rle8 << sample() << window << 1;
    const struct {
        const char *name;
        MaskOutput kind;
    } kinds[] = {{"1-bit bmp", {MaskFormat::Bmp, 1}},
                 {"png", {MaskFormat::Png, 24}},
                 {"1-bit png", {MaskFormat::Png, 1}}};
    for (const auto &k : kinds) {
        QTest::addRow("%s, bottom-up sheet", k.name)
            << packed(sheet, 24, false) << sheet << k.kind << 2;
        QTest::addRow("%s, top-down 32-bit sheet", k.name)
            << packed(sheet, 32, true) << sheet << k.kind << 2;
        QTest::addRow("%s, rle8", k.name) << rle8 << sample() << k.kind << 1;
    }
}

void TestFileJob::masks()
{
    QFETCH(QByteArray, file);
    QFETCH(QImage, sprite);
    QFETCH(MaskOutput, kind);
    QFETCH(int, blocks);
    const QString path =
        m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).remove(' ') + ".pic");
    const QString mask = path + QStringLiteral(".mask");
    writeFile(path, file);
    Recorder rec;
    // The sprite's colours are not the mask's, so 1-bit palettes show which is which.
    FileJob job({{{0x102030}, 0, -1, 0x00FF00}, kind});
    QCOMPARE(job.run(path, mask, Existing::Keep, &rec), FileJob::Outcome::Masked);
    const QImage expected = referenceMask(sprite, sprite.size(), 0x102030, 0x00FF00);
    const QByteArray written = readFile(mask);
    if (kind.format == MaskFormat::Bmp && kind.depth == 24) {
        writeBmp(expected, path + QStringLiteral(".expected"));
        QCOMPARE(written, readFile(path + QStringLiteral(".expected")));
    } else {
        QVERIFY(written.startsWith(kind.format == MaskFormat::Png ? "\x89PNG" : "BM"));
        // Readers that trust a BMP's file-size field (Qt's and ours do not) find the file whole.
        if (kind.format == MaskFormat::Bmp)
            QCOMPARE(qFromLittleEndian<quint32>(written.constData() + 2), quint32(written.size()));
        QCOMPARE(QImage::fromData(written).convertToFormat(QImage::Format_RGB32), expected);
    }
    QVERIFY(rec.seen.size() >= blocks);
    QCOMPARE(rec.seen.last(), 100);
    QVERIFY(std::is_sorted(rec.seen.cbegin(), rec.seen.cend()));
    // A second run keeps the mask: it exists.
    QCOMPARE(job.run(path, mask, Existing::Keep), FileJob::Outcome::Skipped);
}

// One job, its buffers kept from file to file, masks sprites of many sizes in turn, big
// after small and small after big, streamed and gathered, under a rule of 16 key colours:
// each mask is its own sprite's, pixel by pixel as the rule reads.
void TestFileJob::spritesOfManySizes_data()
{
    kindRows();
}

void TestFileJob::spritesOfManySizes()
{
    QFETCH(MaskOutput, kind);
    // The keys are colours of the noise GIF; the other sprites hold them, and colours one
    // unit away from them.
    const QString noise = QFINDTESTDATA("data/gif/im-noise256.gif");
    const QString interlaced = QFINDTESTDATA("data/gif/pil-noise256-interlaced.gif");
    MaskRule rule;
    rule.keys.clear();
    for (int i = 0; i < 16; ++i)
        rule.keys.push_back(fromQRgb(QImage(noise).pixel(i * 3, i)));
    rule.mask = 0x00FF00;
    const auto sprite = [&](int w, int h) {
        QRandomGenerator rng(quint32(w * h));
        QImage img(w, h, QImage::Format_RGB32);
        for (int i = 0; i < w * h; ++i) {
            const int v = int(rng.bounded(40));
            const QRgb key = toQRgb(rule.keys[size_t(v % 16)]);
            img.setPixel(i % w, i / w,
                         v < 16   ? key
                         : v < 32 ? key ^ 1u << (v % 3 * 8)
                                  : rng.generate());
        }
        return img;
    };
    const QImage sheet = sprite(701, 620), tiny = sprite(5, 3), odd = sprite(37, 23);
    const QList<std::pair<QByteArray, QImage>> sprites = {
        {packed(tiny, 24, false), tiny},  {packed(sheet, 24, false), sheet},
        {packed(tiny, 32, true), tiny},   {readFile(interlaced), QImage(interlaced)},
        {packed(sheet, 32, true), sheet}, {saved(odd, "PNG"), odd},
        {readFile(noise), QImage(noise)}};
    FileJob job({rule, kind});
    const QString path = m_dir.filePath(QStringLiteral("many.pic")), mask = path + ".mask";
    for (qsizetype i = 0; i < sprites.size(); ++i) {
        const auto &[file, img] = sprites[i];
        writeFile(path, file);
        QFile::remove(mask);
        QFile::remove(mask + "2");
        QCOMPARE(job.run(path, mask, Existing::Keep), FileJob::Outcome::Masked);
        QImage expected(img.size(), QImage::Format_RGB32);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                expected.setPixel(x, y, ruleReference(img.pixel(x, y), rule));
        QVERIFY2(QImage(mask).convertToFormat(QImage::Format_RGB32) == expected,
                 qPrintable(QString::number(i)));
        // Byte for byte, padding included, what a job that has masked nothing before writes.
        FileJob fresh({rule, kind});
        QCOMPARE(fresh.run(path, mask + "2", Existing::Keep), FileJob::Outcome::Masked);
        QVERIFY2(readFile(mask) == readFile(mask + "2"), qPrintable(QString::number(i)));
    }
}

// A sheet stopped, or cut short or extended by another program, between two blocks: the
// job ends without a mask and leaves nothing behind.
void TestFileJob::interrupted_data()
{
    // 0: the observer asks to stop; -1: the same bytes are written over the file in place;
    // -2: memory runs out in the middle of the job; -3: the same, the sprite opened by the caller
    QTest::addColumn<qint64>("newSize");
    QTest::addColumn<FileJob::Outcome>("outcome");
    QTest::newRow("stop requested") << qint64(0) << FileJob::Outcome::Stopped;
    QTest::newRow("cut short") << qint64(100000) << FileJob::Outcome::Failed;
    QTest::newRow("extended") << qint64(5 << 20) << FileJob::Outcome::Failed;
    QTest::newRow("rewritten in place") << qint64(-1) << FileJob::Outcome::Failed;
    QTest::newRow("out of memory") << qint64(-2) << FileJob::Outcome::Failed;
    QTest::newRow("out of memory, sprite open") << qint64(-3) << FileJob::Outcome::Failed;
}

void TestFileJob::interrupted()
{
    QFETCH(qint64, newSize);
    QFETCH(FileJob::Outcome, outcome);
    const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/sheet.bmp");
    const QByteArray sheet = packed(randomSprite(900, 900, 0, 4), 24, false);
    writeFile(path, sheet);
    // Written long ago, so that a write within the same clock tick still shows.
    const timespec old[2] = {{1000, 0}, {1000, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), old, 0), 0);
    Recorder rec;
    rec.stopAfter = newSize ? 1 << 30 : 1;
    rec.onProgress = [&] {
        QFile f(path);
        if (newSize <= -2)
            throw std::bad_alloc();
        if (newSize > 0)
            QVERIFY(f.resize(newSize));
        else if (newSize < 0 && f.open(QIODevice::ReadWrite))
            QCOMPARE(f.write(sheet.right(sheet.size() - 54)), sheet.size() - 54);
    };
    FileJob job({});
    if (newSize == -3) {
        InputFile open(path);
        QCOMPARE(job.run(open, path + ".mask", Existing::Replace, &rec), outcome);
    } else {
        QCOMPARE(job.run(path, path + ".mask", Existing::Replace, &rec), outcome);
    }
    QVERIFY(rec.seen.first() < 100);
    if (newSize <= -2)
        QCOMPARE(job.error()->number(), int(RunError::OutOfMemory));
    else if (newSize)
        QVERIFY(job.error()->number() == RunError::DamagedPicture && job.failedReading());
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("sheet.bmp")});
}

// The disk fills up while a mask is written (a file-size limit stands in for it, as it binds
// root too): every kind of mask fails as a full disk, and nothing is left behind.
void TestFileJob::diskFull_data()
{
    kindRows();
}

void TestFileJob::diskFull()
{
    QFETCH(MaskOutput, kind);
    const QString folder = m_dir.filePath(QStringLiteral("full-") + QTest::currentDataTag());
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/noise.bmp");
    QImage noise(300, 200, QImage::Format_RGB32); // masks that compress badly
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, (x * 7 + y * 13) % 3 ? 0xFF000000u : 0xFFFFFFFFu);
    writeFile(path, packed(noise, 24, false));
    rlimit before;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const rlimit tight{1000, before.rlim_max};
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    FileJob job({{{0}, 0, -1, 0xFFFFFF}, kind});
    const FileJob::Outcome outcome = job.run(path, path + ".mask", Existing::Keep);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, previous);
    QCOMPARE(outcome, FileJob::Outcome::Failed);
    QCOMPARE(job.error()->number(), int(RunError::DiskFull));
    QVERIFY(!job.failedReading());
    // libpng leaves a failed write by a longjmp; taken from inside a catch, it would leave that
    // exception handled for ever, one more kept alive for every mask a full disk refuses.
    QVERIFY(!std::current_exception());
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("noise.bmp")});
}

QTEST_GUILESS_MAIN(TestFileJob)
#include "tst_filejob.moc"
