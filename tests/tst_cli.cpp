#include "CliRun.h"
#include "FileOps.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "ScriptedDesktop.h"
#include "TestPictures.h"
#include "TestSupport.h"
#include "frmMain.h"
#include "modMain.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QImageWriter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void runs_data();
    void runs();
    void reruns_data();
    void reruns();
    void sameAsTheWindow();

private:
    std::unique_ptr<Sandbox> m_box;
    QString file(const QString &n) const { return m_box->file(n); }
};

void TestCli::init()
{
    m_box = std::make_unique<Sandbox>();
    QDir(m_box->files.path()).mkpath(QStringLiteral("sub"));
    writeBmp(randomSprite(30, 20, Black, 1), file("a.bmp"));
    randomSprite(25, 25, Black, 2).save(file("b.png"), "PNG");
    writeBmp(randomSprite(9, 40, Black, 3), file("sub/c.bmp"));
    writeBmp(randomSprite(5, 5, Black, 4),
             file("old_mask.bmp")); // an earlier run's mask
    QDir::setCurrent(m_box->files.path());
}

// One run in the sandbox: what it masks, its exit code, the per-file lines on standard
// output and everything else on standard error.
void TestCli::runs_data()
{
    QTest::addColumn<QStringList>("make"); // copies of a.bmp; "broken.bmp" is junk
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("list"); // standard input, and the file "list"
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("masks"); // every new mask in the sandbox afterwards
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const auto row = [](const char *tag, const QStringList &make, const QStringList &args,
                        const QByteArray &list, int code, const QStringList &masks, const char *out,
                        const char *err) {
        QTest::newRow(tag) << make << args << list << code << masks << QString(out) << QString(err);
    };
    const QStringList none, ab{"a_mask.bmp", "b_mask.png"};
    row("folder", none, {"."}, {}, 0, ab, "masked %1/a.bmp -> %1/a_mask.bmp\n",
        "2 masked, 0 kept, 0 up to date, 0 failed");
    row("recursive, two patterns", none, {"-r", "--pattern", "*.bmp", "--pattern", "*.png", "."},
        {}, 0, ab + QStringList{"sub/c_mask.bmp"}, "masked %1/sub/c.bmp", "3 masked");
    row("a damaged file among others", {"broken.bmp"}, {"a.bmp", "broken.bmp", "b.png"}, {}, 1, ab,
        "failed %1/broken.bmp: ", "2 masked, 0 kept, 0 up to date, 1 failed");
    row("dry run", none, {"--dry-run", "nothing.bmp", "."}, {}, 1, none,
        "would mask %1/b.png -> %1/b_mask.png\n",
        "dry run: 2 to mask, 0 kept, 0 up to date, 1 failed");
    row("quiet", none, {"-q", "nothing.bmp", "."}, {}, 1, ab,
        "failed nothing.bmp: File not found\n", "");
    row("-o, made two deep, -r keeps the folders", none, {"-r", "-o", "out/deep", "."}, {}, 0,
        {"out/deep/a_mask.bmp", "out/deep/b_mask.png", "out/deep/sub/c_mask.bmp"}, "", "3 masked");
    row("-o clash", {"sub/a.bmp"}, {"-o", "out", "a.bmp", "sub/a.bmp", "b.png"}, {}, 1,
        {"out/b_mask.png"},
        "failed %1/a.bmp: its mask %1/out/a_mask.bmp would also be the mask of "
        "%1/sub/a.bmp\n",
        "1 masked, 0 kept, 0 up to date, 2 failed");
    row("lines from a file, an earlier mask left out", none, {"--files-from", "list"},
        "a.bmp\nsub/c.bmp\nold_mask.bmp\n", 0, {"a_mask.bmp", "sub/c_mask.bmp"}, "",
        "2 masked, 0 kept, 0 up to date, 0 failed");
    row("NUL-separated from standard input, a newline in a name", {"we\nird.bmp"},
        {"-0", "--files-from", "-"}, QByteArray("a.bmp\0we\nird.bmp", 16), 0,
        {"a_mask.bmp", "we\nird_mask.bmp"}, "", "2 masked");
    row("lines and an argument, one name missing", none, {"--files-from=-", "b.png"},
        "missing.bmp\nsub/c.bmp", 1, {"b_mask.png", "sub/c_mask.bmp"}, "",
        "2 masked, 0 kept, 0 up to date, 1 failed");
}

void TestCli::runs()
{
    QFETCH(QStringList, make);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, list);
    QFETCH(int, code);
    QFETCH(QStringList, masks);
    QFETCH(QString, out);
    QFETCH(QString, err);
    for (const QString &f : make)
        QVERIFY(f == QLatin1String("broken.bmp") ? (writeFile(file(f), "BM but not really"), true)
                                                 : QFile::copy(file("a.bmp"), file(f)));
    writeFile(file("list"), list);
    const Run r = maskCommand(args, list);
    QCOMPARE(r.code, code);
    out.replace("%1", m_box->files.path());
    QVERIFY2(r.out.contains(out) && (out.isEmpty() || !r.err.contains(out)), qPrintable(r.out));
    QVERIFY2(r.err.contains(err) && (err.isEmpty() || !r.out.contains(err)), qPrintable(r.err));
    if (err.isEmpty())
        QCOMPARE(r.err, QString());
    QStringList found; // every mask in the sandbox but the earlier run's
    for (QDirIterator it(m_box->files.path(), {"*_mask*"}, QDir::Files | QDir::Hidden,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        found.append(QDir::current().relativeFilePath(it.next()));
    found.sort();
    found.removeOne(QStringLiteral("old_mask.bmp"));
    QCOMPARE(found, masks);
    for (const QString &m : masks) {
        const QImage pic =
            readPicture(file(QString(m).remove(QRegularExpression("^out/(deep/)?|_mask"))));
        QCOMPARE(readPicture(file(m)), referenceMask(pic, pic.size(), Black, White));
    }
}

// A finished folder run again succeeds; what is replaced follows make's rule with -u.
void TestCli::reruns_data()
{
    QTest::addColumn<bool>("touch"); // a.bmp made newer than its mask
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("replaced");
    QTest::addColumn<QString>("out");
    QTest::newRow("rerun keeps")
        << true << QStringList{"."} << 0 << QStringList{}
        << "kept %1/a.bmp -> %1/a_mask.bmp (exists; -u remakes masks older "
           "than their sprite)\n";
    QTest::newRow("update, sprite touched") << true << QStringList{"-u", "."} << 0
                                            << QStringList{"a_mask.bmp"} << "up to date %1/b.png";
    QTest::newRow("overwrite") << false << QStringList{"--overwrite", "."} << 0
                               << QStringList{"a_mask.bmp", "b_mask.png"} << "masked %1/b.png";
    QTest::newRow("a failure among kept masks")
        << false << QStringList{".", "gone.bmp"} << 1 << QStringList{} << "failed gone.bmp";
}

void TestCli::reruns()
{
    QFETCH(bool, touch);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QStringList, replaced);
    QFETCH(QString, out);
    const QString log = m_box->files.filePath("run.log");
    const Run first = maskCommand({"-q", "--log", log, "."});
    QCOMPARE(first.code, 0);
    QCOMPARE(first.out + first.err, QString());
    QVERIFY(
        QRegularExpression(
            R"((^|\n)\[[^\]]+ - [^\]]+\] Image '.*a\.bmp' masked successfully; mask saved as '.*a_mask\.bmp'\.\r\n)")
            .match(QString::fromUtf8(readFile(log)))
            .hasMatch());
    QFile sprite(file("a.bmp"));
    QVERIFY(!touch || (sprite.open(QIODevice::ReadWrite) &&
                       sprite.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                          QFileDevice::FileModificationTime)));
    const QByteArray a = readFile(file("a_mask.bmp")), b = readFile(file("b_mask.png"));
    const Run again = maskCommand(QStringList{"-t", "FFFFFF"} + args);
    QCOMPARE(again.code, code);
    QVERIFY2(again.out.contains(QString(out).replace("%1", m_box->files.path())),
             qPrintable(again.out));
    QCOMPARE(readFile(file("a_mask.bmp")) != a, replaced.contains("a_mask.bmp"));
    QCOMPARE(readFile(file("b_mask.png")) != b, replaced.contains("b_mask.png"));
}

// The window's Mask All and the command line on the same files: the same masks of sprites,
// and damaged pictures of every format, each of which a reader once filled in and masked,
// refused by both with no mask (the window says why in its debug log).
void TestCli::sameAsTheWindow()
{
    QTemporaryDir settings, other;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    // A sheet the command line streams in several blocks of rows, stored top-down.
    writeFile(file("sheet.bmp"), packed(randomSprite(701, 620, 0x102030, 5), 32, true));
    const QImage picture = randomSprite(64, 48, 0x000000, 9);
    QBuffer jpeg;
    jpeg.open(QIODevice::WriteOnly);
    QImageWriter progressive(&jpeg, "JPEG");
    progressive.setProgressiveScanWrite(true);
    progressive.write(picture);
    const QByteArray jpg = jpeg.data(), g = gif();
    const int secondScan = int(jpg.indexOf("\xFF\xDA", jpg.indexOf("\xFF\xDA") + 2));
    const struct {
        const char *name;
        QByteArray bytes;
        int number;
    } damaged[] = {
        {"cut between scans.jpg", jpg.left(secondScan), 480},
        {"adler.png",
         withChunk(saved(picture, "PNG"), "IDAT",
                   [](QByteArray &d) { d[d.size() - 1] = char(d[d.size() - 1] ^ 1); }),
         480},
        {"index past palette.bmp", bmp(5, 3, 8, 0, rows(8, true), 14), 480},
        {"frame 0 wide.gif", with(g, 66, 0, 2), 480},
        {"screen 8000 x 8000.gif", with(g, 6, 0x1F401F40), 480},
        {"icon.ico", saved(picture, "ICO"), 481},
        {"cut.xbm", saved(picture, "XBM").left(60), 481},
        {"bad colour name.xpm", saved(picture, "XPM").replace("#", "@"), 481},
        {"cursor.cur", with(saved(picture, "ICO"), 2, 2, 2), 481},
    };
    QStringList names{"a.bmp", "b.png", "sheet.bmp"}, paths;
    for (const auto &d : damaged) {
        writeFile(file(d.name), d.bytes);
        names.append(QLatin1String(d.name));
    }
    for (const QString &s : names) {
        QFile::copy(file(s), other.filePath(s));
        paths.append(other.filePath(s));
    }
    // --format bmp: the window writes BMP data whatever the sprite's extension.
    const Run r = maskCommand(
        QStringList{"-j", "2", "-t", "102030", "-m", "#00ff00", "--format", "bmp"} + names);
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("3 masked, 0 kept, 0 up to date, 9 failed"), qPrintable(r.err));

    ScriptedDesktop desk;
    frmMain w;
    w.SetTColor(0x302010); // the same colours in the window's own order
    w.SetMColor(0x00FF00);
    w.addFiles(paths, true);
    control<QPushButton>(w, "cmdMaskAll")->click();
    const QString log = DebugLog.GetHistory();
    for (const QString m : {"a_mask.bmp", "b_mask.png", "sheet_mask.bmp"}) {
        const QString mine = QString(m).replace(".png", ".bmp");
        QVERIFY2(!readFile(file(mine)).isEmpty() &&
                     readFile(file(mine)) == readFile(other.filePath(m)),
                 qPrintable(m + log));
    }
    for (const auto &d : damaged)
        QVERIFY2(log.contains(QStringLiteral("Can't load '%1' (Err#%2")
                                  .arg(other.filePath(d.name))
                                  .arg(d.number)),
                 qPrintable(d.name + QLatin1Char('\n') + log));
    QCOMPARE(QDir().entryList({"*_mask*"}),
             QStringList({"a_mask.bmp", "b_mask.bmp", "old_mask.bmp", "sheet_mask.bmp"}));
    QCOMPARE(QDir(other.path()).entryList({"*_mask*"}),
             QStringList({"a_mask.bmp", "b_mask.png", "sheet_mask.bmp"}));
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
