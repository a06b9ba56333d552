#include "FileOps.h"
#include "MaskRun.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "TestPictures.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QTimer>

namespace
{

QMap<QString, QByteArray> contents(const QString &dir)
{
    QMap<QString, QByteArray> all;
    for (QDirIterator it(dir, QDir::Files); it.hasNext();) {
        const QString f = it.next();
        all[f] = readFile(f);
    }
    return all;
}

} // namespace

class TestMaskRun : public QObject
{
    Q_OBJECT
private slots:
    void loadOutOfMemory();
    void init();
    void outputNames_data();
    void outputNames();
    void refusesToStart_data();
    void refusesToStart();
    void emptyListStillCheersAndFlashes();
    void cancelled_data();
    void cancelled();
    void overwriteRule_data();
    void overwriteRule();
    void errorOnTheLastFile_data();
    void errorOnTheLastFile();
    void maskAllEndToEnd();

private:
    std::unique_ptr<Sandbox> m_box;
    QString file(const QString &name) const { return m_box->file(name); }
    QString sprite(const QString &name, int w = 40, int h = 30)
    {
        writeBmp(randomSprite(w, h, Black, qHash(name)), file(name));
        return file(name);
    }
};

void TestMaskRun::init()
{
    m_box = std::make_unique<Sandbox>();
}

// The plain case, hero.bmp to hero_mask.bmp, is pinned by overwriteRule.
void TestMaskRun::outputNames_data()
{
    QTest::addColumn<QString>("sprite");
    QTest::addColumn<QString>("mask");
    QTest::newRow("dotted folder") << QString("/a.b/hero") << QString("/a.b/hero_mask");
    QTest::newRow("last dot") << QString("/s/a.b.png") << QString("/s/a.b_mask.png");
    QTest::newRow("hidden name") << QString("/s/.bmp") << QString("/s/.bmp_mask");
    QTest::newRow("hidden sprite") << QString("/s/.a.bmp") << QString("/s/.a_mask.bmp");
}

void TestMaskRun::outputNames()
{
    QFETCH(QString, sprite);
    QFETCH(QString, mask);
    QCOMPARE(MaskRun::outputName(sprite, QStringLiteral("_mask")), mask);
}

void TestMaskRun::refusesToStart_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("load");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty suffix") << "" << true << "suffix is empty";
    QTest::newRow("suffix with a slash") << "/../x" << true << "must not contain \"/\"";
    QTest::newRow("nothing loaded") << "_mask" << false << "pick a file";
}

void TestMaskRun::refusesToStart()
{
    QFETCH(QString, suffix);
    QFETCH(bool, load);
    QFETCH(QString, message);
    ScriptedDesktop desk;
    sprite("hero.bmp");
    const auto before = contents(m_box->files.path());
    frmMain w;
    w.txtSuffix->setText(suffix);
    if (load)
        QVERIFY(w.LoadPic(w.picSprite, file("hero.bmp")));
    w.cmdMaskCurr->click();
    QCOMPARE(desk.messages.size(), 1);
    QVERIFY2(desk.messages[0].text.contains(message), qPrintable(desk.messages[0].text));
    QCOMPARE(contents(m_box->files.path()), before);
    QCOMPARE(w.lblStatus->text(), QStringLiteral("Status: Ready"));
}

void TestMaskRun::emptyListStillCheersAndFlashes()
{
    ScriptedDesktop desk;
    frmMain w;
    w.show();
    w.setWindowState(Qt::WindowMinimized);
    w.cmdMaskAll->click();
    QCOMPARE(desk.sounds, QStringList{QCoreApplication::applicationDirPath() + "/snd/cheer.wav"});
    QCOMPARE(desk.alerts, QList<int>{3500});
    QVERIFY(QFile::exists(desk.sounds.first())); // the build lays the sound out beside us
}

void TestMaskRun::cancelled_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel during the third file") << false;
    // 21 x 21 counted pixels never reach a refresh point; the batch still yields per file.
    QTest::newRow("Esc in a batch of 5,000 tiny sprites") << true;
}

void TestMaskRun::cancelled()
{
    QFETCH(bool, escape);
    ScriptedDesktop desk;
    frmMain w;
    w.chkPromptOverwrite->setChecked(false);
    QStringList files;
    for (int i = 1; i <= 5; ++i)
        files.append(sprite(QStringLiteral("s%1.bmp").arg(i), 100, 100));
    w.addFiles(escape ? QStringList(5000, sprite("tiny.bmp", 20, 20)) : files, true);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTimer timer;
    connect(&timer, &QTimer::timeout, &w, [&] {
        if (escape)
            QTest::keyClick(&w, Qt::Key_Escape), timer.stop();
        else if (w.lblFileStat->text() == QLatin1String("File 3 of 5") && w.cmdCancel->isEnabled())
            w.cmdCancel->click();
    });
    timer.start(0);
    w.cmdMaskAll->click();
    timer.stop();
    const int reached = w.lblFileStat->text().section(' ', 1, 1).toInt();
    QVERIFY2(escape ? reached >= 1 && reached <= 3 : reached == 3,
             qPrintable(w.lblFileStat->text()));
    QVERIFY(w.CancelRun);
    // Also when the cancel came between two files, as with sprites too small for a refresh
    // point of their own.
    QVERIFY2(w.lblStatus->text().startsWith(QStringLiteral("Status: Cancelled(")),
             qPrintable(w.lblStatus->text()));
    for (int i = 1; i <= 5 && !escape; ++i)
        QCOMPARE(QFile::exists(file(QStringLiteral("s%1_mask.bmp").arg(i))), i < 3);
    QVERIFY(desk.sounds.isEmpty());
    QVERIFY(w.cmdMaskAll->isEnabled() && !w.cmdCancel->isEnabled());
}

void TestMaskRun::overwriteRule_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("existing"); // holds "an older mask"
    QTest::addColumn<bool>("prompt");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("replaced");
    const auto row = [](const char *tag, const QString &base, const QString &existing, bool prompt,
                        bool yes, int questions, bool replaced) {
        QTest::newRow(tag) << base << existing << prompt << yes << questions << replaced;
    };
    row("asked, no", "hero", "hero_mask.bmp", true, false, 1, false);
    row("asked, yes", "hero", "hero_mask.bmp", true, true, 1, true);
    row("not asked", "hero", "hero_mask.bmp", false, false, 0, true);
    row("hidden mask, asked, no", ".hero", ".hero_mask.bmp", true, false, 1, false);
    // Names are names, not patterns: another file that would match is not the mask.
    row("? in the name", "what?", "whatX_mask.bmp", true, false, 0, true);
    row("[ in the name", "[a]", "a_mask.bmp", true, false, 0, true);
}

void TestMaskRun::overwriteRule()
{
    QFETCH(QString, base);
    QFETCH(QString, existing);
    QFETCH(bool, prompt);
    QFETCH(bool, yes);
    QFETCH(int, questions);
    QFETCH(bool, replaced);
    ScriptedDesktop desk;
    desk.answers = {yes ? Desktop::Answer::Yes : Desktop::Answer::No};
    const QString mask = file(base + "_mask.bmp");
    const QByteArray older = "an older mask";
    writeFile(file(existing), older);
    frmMain w;
    w.chkPromptOverwrite->setChecked(prompt);
    w.addFiles({sprite(base + ".bmp")}, true);
    w.cmdMaskAll->click();
    QCOMPARE(desk.messages.size(), questions);
    if (questions)
        QCOMPARE(desk.messages[0].text, "'" + mask + "' already exists. Overwrite?");
    QCOMPARE(readFile(mask) != older, replaced);
    QCOMPARE(readFile(file(existing)) == older, file(existing) != mask || !replaced);
    QCOMPARE(DebugLog.GetHistory().contains("masked successfully"), replaced);
    QCOMPARE(desk.beeps, 1);
    QCOMPARE(w.lblStatus->text(), QStringLiteral("Status: Ready (0 Seconds Used)"));
}

void TestMaskRun::errorOnTheLastFile_data()
{
    QTest::addColumn<bool>("logWritable"); // declining the offer: see maskAllEndToEnd
    QTest::newRow("the log is offered and shown") << true;
    QTest::newRow("log cannot be written") << false;
}

// The mask's name is taken by a folder, so the write fails; the batch still ends as usual.
void TestMaskRun::errorOnTheLastFile()
{
    QFETCH(bool, logWritable);
    ScriptedDesktop desk;
    desk.answers = {Desktop::Answer::Yes};
    if (!logWritable)
        DebugLog.setDataPath(m_box->data.path() + "/missing/");
    QVERIFY(QDir(m_box->files.path()).mkdir("b_mask.bmp"));
    frmMain w;
    w.show();
    w.setWindowState(Qt::WindowMinimized);
    w.addFiles({sprite("a.bmp"), sprite("b.bmp")}, true);
    w.cmdMaskAll->click();
    QCOMPARE(desk.messages.size(), 1);
    QVERIFY2(desk.messages[0].text.contains(logWritable ? "Do you wish to see the debug file?"
                                                        : "debug log could not"),
             qPrintable(desk.messages[0].text));
    QCOMPARE(desk.opened.size(), logWritable ? 1 : 0);
    QVERIFY(w.lblStatus->text().startsWith("Status: Error(100%, After 0 Seconds)... See "));
    const QString log = DebugLog.GetHistory();
    QVERIFY(log.contains("] An error occured while masking '" + file("b.bmp") + "'. (Err#"));
    if (logWritable)
        QCOMPARE(readFile(m_box->data.filePath("debug.dat")), log.toUtf8());
    QCOMPARE(desk.sounds.size(), 1);
    QCOMPARE(desk.alerts.size(), 1);
    QVERIFY(w.cmdMaskAll->isEnabled() && w.lstFiles->isEnabled() && !w.cmdCancel->isEnabled());
}

void TestMaskRun::maskAllEndToEnd()
{
    ScriptedDesktop desk;
    const QImage hero = randomSprite(64, 48, Black, 1);
    writeBmp(hero, file("hero.bmp"));
    writeBmp(hero, file("noext"));
    hero.save(file("hero.png"), "PNG");
    hero.save(file("hero.jpg"), "JPG", 95);
    writeFile(file("sample.gif"), gif());
    writeFile(file("damaged.bmp"), "this is not a picture");
    const QStringList names{"hero.bmp", "damaged.bmp", "noext",
                            "hero.png", "hero.jpg",    "sample.gif"};
    QStringList files;
    for (const QString &n : names)
        files.append(file(n));
    const auto before = contents(m_box->files.path());

    frmMain w;
    w.addFiles(files, true);
    desk.answers = {Desktop::Answer::No};
    w.cmdMaskAll->click();

    // The skipped file is in the log on disk, and the log is offered once.
    QCOMPARE(desk.messages.size(), 1);
    QCOMPARE(desk.messages[0].text, "An error has occured! Do you wish to see the debug file?");
    QVERIFY(readFile(m_box->data.filePath("debug.dat")).contains("Can't load"));
    QVERIFY(desk.opened.isEmpty());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QCOMPARE(readFile(it.key()), it.value());
    QVERIFY(!QFile::exists(file("damaged_mask.bmp")));
    const QString log = DebugLog.GetHistory();
    QVERIFY(log.contains("] Can't load '" + file("damaged.bmp") + "' (Err#481"));
    for (const QString &n : names) {
        if (n == QLatin1String("damaged.bmp"))
            continue;
        const QString out = MaskRun::outputName(file(n), "_mask");
        QVERIFY(log.contains("] Image '" + file(n) + "' masked successfully; mask saved as '" +
                             out + "'."));
        QVERIFY2(readFile(out).startsWith("BM"), qPrintable(out)); // BMP whatever the name says
        const QImage source = readPicture(file(n));
        QCOMPARE(readPicture(out), referenceMask(source, source.size(), Black, White));
    }
    QCOMPARE(w.lblFileStat->text(), QStringLiteral("File 6 of 6"));
}

// Memory running out while a sprite is read is one more file that cannot be loaded: logged
// with its number, the window and the batch go on.
void TestMaskRun::loadOutOfMemory()
{
    ScriptedDesktop desk;
    frmMain w;
    const QString path = sprite(QStringLiteral("big.bmp"));
    InputFile::setReadHook([](const QString &, qint64) { throw std::bad_alloc(); });
    const bool loaded = w.LoadPic(w.picSprite, path);
    InputFile::setReadHook({});
    QVERIFY(!loaded);
    QVERIFY2(DebugLog.GetHistory().contains("Can't load '" + path + "' (Err#7"),
             qPrintable(DebugLog.GetHistory()));
}

QTEST_MAIN(TestMaskRun)
#include "tst_maskrun.moc"
