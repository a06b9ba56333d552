#include "RunUtils.h"
#include "SourceTesting.h"

#include <QBuffer>
#include <QImageReader>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// What may already stand at a mask's name.
enum class There { Nothing, File, ReadOnlyFile, Fifo, Folder, DanglingLink, LinkToFile };

Q_DECLARE_METATYPE(There)

class TestPictureIO : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void bmpAsQtReadsIt_data();
    void bmpAsQtReadsIt();
    void changedWhileRead_data();
    void changedWhileRead();
    void refuses_data();
    void refuses();
    void writesBmp_data();
    void writesBmp();
    void secondWriterKeepsTheFirst();
    void patterns_data();
    void patterns();

private:
    QTemporaryDir m_dir;
};

void TestPictureIO::initTestCase()
{
    QVERIFY(m_dir.isValid());
    writeBmp(sample(), m_dir.filePath(QStringLiteral("fresh.bmp")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("names/folder.bmp")));
}

// BMP kinds Qt's own reader reads too, some with every bit pattern in their pixels: the
// same pixels, and with alpha kept the same alpha.
void TestPictureIO::bmpAsQtReadsIt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray noise;
    for (int i = 0; i < 6 * 5 * 4; ++i)
        noise.append(char(i * 97 + (i >> 3) * 31));
    const auto masks = [](quint32 r, quint32 g, quint32 b, quint32 a) {
        QByteArray m;
        for (quint32 v : {r, g, b, a})
            put(m, v, 4);
        return m + QByteArray(52, '\0'); // the rest of a V4 header
    };
    QTest::newRow("24-bit, 37 wide") << saved(sample().scaled(37, 3), "BMP"); // a ragged end
    QTest::newRow("24-bit, top-down") << bmp(5, -3, 24, 0, rows(24, false));
    QTest::newRow("core header") << coreBmp();
    QTest::newRow("rle8") << bmp(5, 3, 8, 1, rows(8, true, true), 16);
    QTest::newRow("rle4") << bmp(5, 3, 4, 2, rle4Rows(), 16);
    QTest::newRow("1-bit") << bmp(6, 5, 1, 0, noise.left(20), 2);
    QTest::newRow("4-bit") << bmp(6, 5, 4, 0, noise.left(20), 16);
    QTest::newRow("8-bit") << bmp(5, 3, 8, 0, rows(8, true), 16);
    QTest::newRow("8-bit, top-down") << bmp(8, -5, 8, 0, noise.left(40), 256);
    QTest::newRow("16-bit 5-5-5") << bmp(6, 5, 16, 0, noise.left(60));
    QTest::newRow("16-bit 5-6-5 fields")
        << bmp(6, 5, 16, 3, noise.left(60), 0, masks(0xF800, 0x07E0, 0x001F, 0));
    QTest::newRow("16-bit 4-4-4-4 fields")
        << bmp(6, 5, 16, 3, noise.left(60), 0, masks(0x0F00, 0x00F0, 0x000F, 0xF000));
    QTest::newRow("32-bit fields with alpha")
        << bmp(6, 5, 32, 3, noise, 0, masks(0xFF0000, 0xFF00, 0xFF, 0xFF000000));
    QTest::newRow("32-bit, fourth byte no alpha") << bmp(6, 5, 32, 0, noise);
    // Absolute runs (padded to whole words) of odd and even length, a jump within a row and
    // one to the next row, rows ended early: no common encoder writes these. Qt paints the
    // pixels they pass over as it finds them, this program in palette colour 0.
    const auto runs = [](int bpp, const char *hex) {
        return with(bmp(7, 4, bpp, bpp == 8 ? 1 : 2, QByteArray::fromHex(hex), 16), 54, 0);
    };
    QTest::newRow("rle8, absolute runs and jumps")
        << runs(8, "0301 0003050607 00 0000 0002 0300 0209 0000 0004 0a0b0c0d 010e 0002 0101 "
                   "010f 0001");
    QTest::newRow("rle4, absolute runs and jumps")
        << runs(4, "0412 0003 3450 0000 0002 0200 039a 0000 0005 bcdef0 00 0002 0101 0170 0001");
    // Jumps across rows, right by another count than up: 2 right and 1 up from the first
    // row, 1 right and 2 up from the third, then the last row whole.
    const auto jumps = [](int bpp, const char *hex) {
        return bmp(7, 6, bpp, bpp == 8 ? 1 : 2, QByteArray::fromHex(hex), 16);
    };
    QTest::newRow("rle8, jumps up and right by different counts")
        << jumps(8, "0301 0002 0201 020e 0000 0002 0102 0409 0000 0705 0001");
    QTest::newRow("rle4, jumps up and right by different counts")
        << jumps(4, "0312 0002 0201 02ef 0000 0002 0102 049a 0000 0734 0001");
    // Our reader, like Qt's and Pillow's, goes by the headers and the file's real size; the
    // file-size field many writers leave wrong or 0 changes nothing.
    QTest::newRow("1-bit, file-size field 0") << with(bmp(6, 5, 1, 0, noise.left(20), 2), 2, 0);
    // Files from other encoders (tests/data/bmp/make.sh).
    for (const QString &name : QDir(QFINDTESTDATA("data/bmp")).entryList({"*.bmp"}))
        QTest::newRow(qPrintable(name)) << testData("bmp/" + name);
}

void TestPictureIO::bmpAsQtReadsIt()
{
    QFETCH(QByteArray, bytes);
    // Qt leaves the pixels a run-length jump passes over as it finds them in memory: read
    // into a picture of palette index 0, they are what this program paints there.
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    QImage qt(reader.size(), reader.imageFormat());
    qt.fill(0);
    QVERIFY(reader.read(&qt));
    QCOMPARE(decodePicture(bytes, QStringLiteral("x.bmp")),
             qt.convertToFormat(QImage::Format_RGB32));
    // Qt leaves pixels run-length codes pass over out of its palette, transparent in ARGB32.
    const QImage opaque = qt.hasAlphaChannel() ? qt : qt.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(decodePicture(bytes, QStringLiteral("x.bmp"), PictureAlpha::Keep),
             opaque.convertToFormat(QImage::Format_ARGB32));
}

void TestPictureIO::refuses_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("number");
    // Large enough that each cut lands in the pixel data rather than the headers.
    const QImage big = sample().scaled(64, 64);
    const QByteArray bmp24 = saved(big, "BMP");
    const QByteArray rle8 = bmp(5, 3, 8, 1, rows(8, true, true), 16);
    const QByteArray rle4 = bmp(5, 3, 4, 2, rle4Rows(), 16), core = coreBmp();
    const int damaged = RunError::DamagedPicture, invalid = RunError::InvalidPicture;
    QTest::newRow("missing file") << "absent.bmp" << QByteArray() << 53;
    QTest::newRow("text named .bmp") << "x.bmp" << QByteArray("not a picture\n") << invalid;
    QTest::newRow("bmp a byte short") << "short.bmp" << bmp24.chopped(1) << damaged;
    QTest::newRow("rle8 cut") << "c.bmp" << rle8.left(rle8.size() - 5) << damaged;
    QTest::newRow("rle8 ending a row early")
        << "e.bmp" << with(rle8, 54 + 64 + 12, 0x100, 2) << damaged;
    QTest::newRow("rle4 cut") << "c4.bmp" << rle4.left(rle4.size() - 4) << damaged;
    QTest::newRow("core header cut") << "core.bmp" << core.left(core.size() - 10) << damaged;
    QTest::newRow("core header, width 0") << "core0.bmp" << with(core, 18, 0, 2) << invalid;
    QTest::newRow("pixels inside the header") << "off.bmp" << with(bmp24, 10, 30) << damaged;
    QTest::newRow("palette past the end") << "pal.bmp" << with(rle8, 46, 200).left(300) << damaged;
    QTest::newRow("palette over 256") << "pal2.bmp" << with(rle8, 46, 1000) << damaged;
    QTest::newRow("width 0") << "w0.bmp" << with(bmp24, 18, 0) << invalid;
    QTest::newRow("height 0") << "h0.bmp" << with(bmp24, 22, 0) << invalid;
    QTest::newRow("colour past the palette")
        << "ix.bmp" << bmp(5, 3, 8, 0, rows(8, true), 14) << damaged;
    QTest::newRow("rle8 colour past the palette")
        << "ix8.bmp" << bmp(5, 3, 8, 1, rows(8, true, true), 14) << damaged;
    QTest::newRow("unknown header size") << "hs.bmp" << with(bmp24, 14, 41) << damaged;
    QTest::newRow("20000 x 20000 header only") << "huge.bmp" << bmp(20000, 20000, 24, 0, {}) << 7;
    QTest::newRow("rle8 of 16384 x 16384 in a few bytes")
        << "claim.bmp" << bmp(16384, 16384, 8, 1, QByteArray(10, '\0') + QByteArray("\0\1", 2), 1)
        << damaged;
    // Formats Qt reads but with no check of ours behind them: refused, never guessed at.
    for (const char *format : {"ICO", "XPM", "XBM", "PPM"})
        QTest::addRow("%s", format) << "other.bmp" << saved(sample(), format) << invalid;
    QTest::newRow("folder") << "names/folder.bmp" << QByteArray() << 54;
    QTest::newRow("fifo") << "fifo.bmp" << QByteArray() << 54;
}

void TestPictureIO::refuses()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, number);
    const QString path = m_dir.filePath(name);
    if (name == QLatin1String("fifo.bmp"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    else if (!bytes.isEmpty())
        writeFile(path, bytes);
    // Where a later check would refuse the same file by the same number, the first must say so.
    const QHash<QByteArray, QString> why{{"palette past the end", "palette that runs past"}};
    VERIFY_ERROR(number, why.value(QTest::currentDataTag()), [&] { readPicture(path); });
}

// Another program shortens, extends or rewrites the sprite in place (an editor saving over
// it) between two reads of it: the read fails as a damaged file rather than with a signal,
// or with a picture that is half the old one and half the new.
void TestPictureIO::changedWhileRead_data()
{
    // 0: the same size, other bytes; -1: another file renamed over it, as editors save
    QTest::addColumn<qint64>("newSize");
    QTest::newRow("shortened") << qint64(1000);
    QTest::newRow("extended") << qint64(100 << 20);
    QTest::newRow("rewritten in place") << qint64(0);
    QTest::newRow("replaced by a rename") << qint64(-1);
}

void TestPictureIO::changedWhileRead()
{
    QFETCH(qint64, newSize);
    const QImage sheet = sample().scaled(900, 700); // more than one block of rows
    const QString path = m_dir.filePath(QStringLiteral("edited.bmp"));
    writeFile(path, saved(sheet, "BMP"));
    const QByteArray other = saved(sheet.mirrored(true, false), "BMP");
    // Long ago, so that a write within the same clock tick still shows.
    const timespec old[2] = {{1000, 0}, {1000, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), old, 0), 0);
    int reads = 0;
    InputFile::setReadHook([&](const QString &read, qint64) {
        if (read != path || reads++ != 1)
            return;
        QFile f(path);
        if (newSize < 0) {
            writeFile(path + ".new", other);
            QCOMPARE(::rename(QFile::encodeName(path + ".new").constData(),
                              QFile::encodeName(path).constData()),
                     0);
        } else if (newSize)
            QVERIFY(f.resize(newSize));
        else // no truncation: rewritten in place
            QCOMPARE(f.open(QIODevice::ReadWrite) ? f.write(other) : -1, other.size());
    });
    const int got = errorOf([&] { readPicture(path); });
    InputFile::setReadHook({});
    QVERIFY(reads >= 2); // the change came between two reads
    QCOMPARE(got, int(RunError::DamagedPicture));
}

// What a write without and with the user's consent does to whatever has the name already.

void TestPictureIO::writesBmp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<There>("there");
    QTest::addColumn<bool>("consent");
    QTest::addColumn<int>("number");
    const int exists = RunError::FileAlreadyExists, notFile = RunError::NotARegularFile;
    QTest::newRow("extension says jpeg") << "mask.jpg" << There::Nothing << false << 0;
    QTest::newRow("missing folder") << "absent/x.bmp" << There::Nothing << true << 76;
    QTest::newRow("read-only folder") << "x.bmp" << There::Nothing << true << 70;
    QTest::newRow("kept: hidden file") << ".x_mask.bmp" << There::File << false << exists;
    QTest::newRow("kept: fifo") << "x.bmp" << There::Fifo << false << exists;
    QTest::newRow("kept: folder") << "x.bmp" << There::Folder << false << exists;
    QTest::newRow("kept: dangling link") << "x.bmp" << There::DanglingLink << false << exists;
    QTest::newRow("replaced: file, mode kept") << "x.bmp" << There::File << true << 0;
    QTest::newRow("replaced: link, target kept") << "x.bmp" << There::LinkToFile << true << 0;
    QTest::newRow("replaced: dangling link") << "x.bmp" << There::DanglingLink << true << 0;
    QTest::newRow("refused: read-only file") << "x.bmp" << There::ReadOnlyFile << true << 70;
    QTest::newRow("refused: fifo") << "x.bmp" << There::Fifo << true << notFile;
    QTest::newRow("refused: folder") << "x.bmp" << There::Folder << true << notFile;
}

void TestPictureIO::writesBmp()
{
    QFETCH(QString, name);
    QFETCH(There, there);
    QFETCH(bool, consent);
    QFETCH(int, number);
    const bool lockedFolder = QByteArray(QTest::currentDataTag()) == "read-only folder";
    if (lockedFolder && geteuid() == 0)
        QSKIP("permissions do not bind root");
    // Each row writes into a folder of its own so leftovers show in its listing; a link's
    // target lives outside it.
    const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + '/' + name, outside = folder + QStringLiteral(".target");
    const QByteArray old(4096, 'o'), raw = QFile::encodeName(path);
    switch (there) {
    case There::Nothing: break;
    case There::File:
    case There::ReadOnlyFile:
        writeFile(path, old);
        QCOMPARE(::chmod(raw.constData(), there == There::File ? 0640 : 0444), 0);
        break;
    case There::Fifo: QCOMPARE(::mkfifo(raw.constData(), 0644), 0); break;
    case There::Folder: QVERIFY(QDir().mkpath(path)); break;
    case There::LinkToFile: writeFile(outside, old); Q_FALLTHROUGH();
    case There::DanglingLink: QVERIFY(QFile::link(outside, path)); break;
    }
    if (lockedFolder)
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const int got =
        errorOf([&] { writeBmp(sample(), path, consent ? Existing::Replace : Existing::Keep); });
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(got, number);
    // Nothing is left behind, and nothing but the name itself was touched.
    const QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                    QDir::Hidden | QDir::System);
    QCOMPARE(left, number && there == There::Nothing ? QStringList() : QStringList{name});
    QCOMPARE(readFile(outside), there == There::LinkToFile ? old : QByteArray());
    if (number) {
        if (there == There::File || there == There::ReadOnlyFile)
            QCOMPARE(readFile(path), old);
        return;
    }
    struct stat st;
    QCOMPARE(::lstat(raw.constData(), &st), 0);
    QVERIFY(S_ISREG(st.st_mode));
    if (there == There::File)
        QCOMPARE(st.st_mode & 0777, mode_t(0640));
    // Nothing may remain of an older, longer file.
    QCOMPARE(readFile(path), readFile(m_dir.filePath(QStringLiteral("fresh.bmp"))));
    QCOMPARE(readPicture(path), sample());
}

// Two runs finish the same mask at once: the first to take the name keeps it.
void TestPictureIO::secondWriterKeepsTheFirst()
{
    const QString path = m_dir.filePath(QStringLiteral("raced_mask.bmp"));
    WholeFileWriter late(path, Existing::Keep);
    late.write("late", 4);
    writeBmp(sample(), path, Existing::Keep);
    QCOMPARE(errorOf([&] { late.commit(); }), int(RunError::FileAlreadyExists));
    QCOMPARE(readPicture(path), sample());
}

void TestPictureIO::patterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    for (const auto &[tag, pattern, name, matches] :
         {std::tuple("letter case ignored", "*.bmp", "HERO.BMP", true),
          {"star dot star, no dot", "*.*", "README", true},
          {"question marks", "HER?.bm?", "hero.bmp", true},
          {"second of several", "*.png; *.gif", "a.gif", true},
          {"other extension", "*.bmp;*.gif", "a.bmp.png", false},
          {"whole name", "*.bmp", "a.bmpx", false}})
        QTest::newRow(tag) << QString(pattern) << QString(name) << matches;
}

void TestPictureIO::patterns()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(matchesPattern(pattern, name), matches);
    QCOMPARE(matchesPattern(pattern, name), matches); // from the compiled cache
}

QTEST_MAIN(TestPictureIO)
#include "tst_pictureio.moc"
