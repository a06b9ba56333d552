#include "MaskRun.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "ScriptedDesktop.h"
#include "TestPictures.h"
#include "TestSupport.h"
#include "frmMain.h"
#include "modMain.h"

#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Run {
    int code;
    QString err, out;
};

Run maskCommand(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(PELLORAN_MASK_BIN), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardError()), QString::fromUtf8(p.readAllStandardOutput())};
}

QStringList masksIn(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("*_mask*")}, QDir::Files, QDir::Name);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void exitCodes_data();
    void exitCodes();
    void secondRunSkipsAndDryRunWritesNothing();
    void sameMasksAsTheWindow();
    void names_data();
    void names();
    void foldersDropOnTheWindow_data();
    void foldersDropOnTheWindow();

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
    writeBmp(randomSprite(5, 5, Black, 4), file("old_mask.bmp")); // an earlier run's mask
}

void TestCli::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("masks");
    QTest::addColumn<QString>("message");
    QTest::newRow("folder") << QStringList{"."} << 0 << QStringList{"a_mask.bmp", "b_mask.png"}
                            << "2 masked, 0 skipped, 0 failed";
    QTest::newRow("recursive, one pattern")
        << QStringList{"-r", "--pattern", "*.bmp", "."} << 0 << QStringList{"a_mask.bmp"} << "";
    QTest::newRow("a damaged file among others")
        << QStringList{"a.bmp", "broken.bmp", "b.png"} << 1
        << QStringList{"a_mask.bmp", "b_mask.png"} << "failed " ;
    QTest::newRow("missing input") << QStringList{"nothing.bmp", "a.bmp"} << 1
                                   << QStringList{"a_mask.bmp"} << "nothing.bmp: no such file";
    QTest::newRow("bad colour") << QStringList{"-t", "12345", "."} << 2 << QStringList{}
                                << "bad transparency colour";
    QTest::newRow("empty suffix") << QStringList{"-s", "", "."} << 2 << QStringList{}
                                  << "suffix is empty";
    QTest::newRow("nothing given") << QStringList{} << 2 << QStringList{} << "no sprite files";
}

void TestCli::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QStringList, masks);
    QFETCH(QString, message);
    if (args.contains("broken.bmp"))
        writeFile(file("broken.bmp"), "BM but not really");
    QDir::setCurrent(m_box->files.path());
    const Run r = maskCommand(args);
    QCOMPARE(r.code, code);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QStringList expected = masks + QStringList{QStringLiteral("old_mask.bmp")};
    expected.sort();
    QCOMPARE(masksIn(m_box->files.path()), expected);
    for (const QString &m : masks) {
        const QString sprite = file(QString(m).remove(QStringLiteral("_mask")));
        const QImage pic = readPicture(sprite);
        QCOMPARE(readPicture(file(m)), referenceMask(pic, pic.size(), Black, White));
    }
    if (args.contains("-r"))
        QVERIFY(QFile::exists(file("sub/c_mask.bmp")));
}

void TestCli::secondRunSkipsAndDryRunWritesNothing()
{
    QDir::setCurrent(m_box->files.path());
    const Run dry = maskCommand({"--dry-run", "."});
    QCOMPARE(dry.code, 0);
    QVERIFY(dry.out.contains("would mask " + file("a.bmp") + " -> " + file("a_mask.bmp")));
    QCOMPARE(masksIn(m_box->files.path()), QStringList{"old_mask.bmp"});

    const QString log = m_box->files.filePath("run.log");
    QCOMPARE(maskCommand({"-q", "--log", log, "."}).code, 0);
    const QByteArray first = readFile(file("a_mask.bmp"));
    const QString entries = QString::fromUtf8(readFile(log));
    QVERIFY(QRegularExpression(R"((^|\n)\[[^\]]+ - [^\]]+\] Image '.*a\.bmp' masked successfully; mask saved as '.*a_mask\.bmp'\.\r\n)")
                .match(entries)
                .hasMatch());
    const Run again = maskCommand({"-t", "FFFFFF", "."});
    QCOMPARE(again.code, 1);
    QVERIFY(again.err.contains("0 masked, 2 skipped"));
    QCOMPARE(readFile(file("a_mask.bmp")), first);
    QCOMPARE(maskCommand({"--overwrite", "-t", "#FFFFFF", "a.bmp"}).code, 0);
    QVERIFY(readFile(file("a_mask.bmp")) != first);
}

void TestCli::sameMasksAsTheWindow()
{
    QTemporaryDir settings, other;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    // A sheet the command line streams in several blocks of rows, stored top-down.
    const QImage sheet = randomSprite(701, 620, 0x102030, 5);
    QByteArray rows;
    for (int y = 0; y < sheet.height(); ++y)
        for (int x = 0; x < sheet.width(); ++x)
            put(rows, sheet.pixel(x, y) & 0xFFFFFF, 4);
    writeFile(file("sheet.bmp"), bmp(sheet.width(), -sheet.height(), 32, 0, rows));
    const QStringList sprites{"a.bmp", "b.png", "sheet.bmp"};
    QStringList paths;
    for (const QString &s : sprites) {
        QFile::copy(file(s), other.filePath(s));
        paths.append(other.filePath(s));
    }
    QDir::setCurrent(m_box->files.path());
    QCOMPARE(maskCommand(QStringList{"-j", "2", "-t", "102030", "-m", "#00ff00"} + sprites).code, 0);

    ScriptedDesktop desk;
    frmMain w;
    w.SetTColor(0x302010); // the same colours in the window's own order
    w.SetMColor(0x00FF00);
    w.addFiles(paths, true);
    w.cmdMaskAll->click();
    for (const QString m : {"a_mask.bmp", "b_mask.png", "sheet_mask.bmp"}) {
        QVERIFY(!readFile(file(m)).isEmpty());
        QVERIFY2(readFile(file(m)) == readFile(other.filePath(m)), qPrintable(m + DebugLog.GetHistory()));
    }
}

// Names as the file system has them: never patterns, hidden ones included, bytes that are
// not UTF-8 and control characters shown escaped on one report line.
void TestCli::names_data()
{
    QTest::addColumn<QByteArray>("sprite");
    QTest::addColumn<QByteArray>("there"); // already in the folder, must stay as it is
    QTest::addColumn<bool>("byName");      // named on the command line, or found in the folder
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("report");
    QTest::newRow("?") << QByteArray("what?.bmp") << QByteArray("whatX_mask.bmp") << false << 0
                       << "1 masked";
    QTest::newRow("*") << QByteArray("st*r.bmp") << QByteArray("stXXr_mask.bmp") << true << 0
                       << "1 masked";
    QTest::newRow("[") << QByteArray("[a].bmp") << QByteArray("a_mask.bmp") << false << 0
                       << "1 masked";
    QTest::newRow("hidden mask") << QByteArray(".hero.bmp") << QByteArray(".hero_mask.bmp")
                                 << false << 1 << "1 skipped";
    QTest::newRow("latin-1, in a folder") << QByteArray("h\xe9ro.bmp") << QByteArray() << false
                                          << 1 << "n/h\\xe9ro.bmp: the name is not valid UTF-8";
    QTest::newRow("latin-1, named") << QByteArray("h\xe9ro.bmp") << QByteArray() << true << 1
                                    << "failed n/h\\xe9ro.bmp: the name is not valid UTF-8";
    QTest::newRow("newline and escape") << QByteArray("a\nb\x1b[31m.bmp") << QByteArray() << true
                                        << 0 << "/n/a\\nb\\x1b[31m.bmp -> ";
}

void TestCli::names()
{
    QFETCH(QByteArray, sprite);
    QFETCH(QByteArray, there);
    QFETCH(bool, byName);
    QFETCH(int, code);
    QFETCH(QString, report);
    QDir::setCurrent(m_box->files.path());
    QVERIFY(QDir().mkpath(QStringLiteral("n")));
    const QByteArray spriteBytes = readFile(file("a.bmp"));
    const auto create = [](const QByteArray &name, const QByteArray &bytes) {
        const int fd = ::open("n/" + name, O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size());
        ::close(fd);
    };
    create(sprite, spriteBytes);
    if (!there.isEmpty())
        create(there, "keep me");
    // Raw bytes reach the program through printf, since QProcess passes text.
    QByteArray octal;
    for (const char c : QByteArray("n/") + sprite)
        octal += QByteArray("\\0") + QByteArray::number(uchar(c), 8);
    QProcess p;
    p.start(QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("exec \"$0\" -j 1 \"$(printf '%b' \"$1\")\""),
             QStringLiteral(PELLORAN_MASK_BIN), byName ? QString::fromLatin1(octal) : QStringLiteral("n")});
    QVERIFY(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), code);
    QVERIFY2(err.contains(report), qPrintable(err));
    QVERIFY(!err.contains(QChar(0x1b)));
    QCOMPARE(err.count(QLatin1Char('\n')), 2); // one line for the file, one for the summary
    if (!there.isEmpty())
        QCOMPARE(readFile(QStringLiteral("n/") + QString::fromUtf8(there)), QByteArray("keep me"));
    if (code == 0)
        QVERIFY(QFile::exists(QStringLiteral("n/") +
                              MaskRun::outputName(QString::fromUtf8(sprite), QStringLiteral("_mask"))));
}

void TestCli::foldersDropOnTheWindow_data()
{
    QTest::addColumn<bool>("shift");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("bmp files") << false << QStringList{"a.bmp", "old_mask.bmp", "sub/c.bmp"};
    QTest::newRow("every picture, shift held")
        << true << QStringList{"a.bmp", "b.png", "old_mask.bmp", "sub/c.bmp"};
}

void TestCli::foldersDropOnTheWindow()
{
    QFETCH(bool, shift);
    QFETCH(QStringList, listed);
    frmMain w;
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(m_box->files.path()), QUrl::fromLocalFile(file("sub/c.bmp"))});
    const auto mods = shift ? Qt::ShiftModifier : Qt::NoModifier;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, mods);
    QCoreApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, mods);
    QCoreApplication::sendEvent(&w, &drop);
    QStringList got;
    for (int i = 0; i < w.lstFiles->count(); ++i)
        got.append(QDir(m_box->files.path()).relativeFilePath(w.lstFiles->itemText(i)));
    QCOMPARE(got, listed);
    QCOMPARE(w.CurrentFile, file("a.bmp"));
    QVERIFY(w.cmdClearList->isEnabled());
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
