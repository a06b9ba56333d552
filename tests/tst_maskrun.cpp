#include "FakeMaskWindow.h"
#include "FileOps.h"
#include "MaskRun.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "RunHost.h"
#include "TestPictures.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>

namespace
{

QMap<QString, QByteArray> contents(const QString &dir)
{
    QMap<QString, QByteArray> all;
    for (QDirIterator it(dir, QDir::Files | QDir::Hidden); it.hasNext();) {
        const QString f = it.next();
        all[f] = readFile(f);
    }
    return all;
}

// A run's host without a window, in one line of what the run asked and told: "2/3" the file
// counter, a status's first word, "!a.bmp" a file that could not be loaded, "+a_mask.bmp" a
// mask written and logged, "ask" the overwrite question, and each yield, beep and the rest.
// Sprites of 40 x 30 reach one refresh point.
class FakeRunHost : public FakeWindowOf<RunHost>
{
public:
    explicit FakeRunHost(const QString &dir)
        : FakeWindowOf(QImage(1, 1, QImage::Format_RGB32)), dir(dir + '/')
    {
        onYield = [this](int n) {
            add("yield");
            if (n == cancelAt) // as the Cancel button does
                cancel = true, locked = cancelEnabled = false;
        };
        // What each view changes: the counter, and a status's first word (a refresh point's
        // own text is the scan's, tested with the scan).
        shownStatus = status;
        onShow = [this](const RunView &) {
            if (counter != shownCounter)
                shownCounter = counter,
                add(counter.section(' ', 1, 1) + '/' + counter.section(' ', 3, 3));
            if (status != shownStatus && !status.startsWith("Status: Masking("))
                add(status.section(' ', 1).section('(', 0, 0).section(' ', 0, 0));
            shownStatus = status;
        };
    }
    Colour transparencyColour() const override { return Black; }
    Colour maskColour() const override { return White; }
    void setCancelRun(bool set) override { cancel = set; }
    void setCancelEnabled(bool enabled) override { cancelEnabled = enabled; }
    void ControlsEnabled(bool enable) override { locked = !enable; }
    QString currentFile() const override { return current; }
    QString suffix() const override { return suffixText; }
    bool promptOverwrite() const override { return armed = !late.isEmpty(), prompt; }
    // The run looks for an existing mask after asking promptOverwrite(), and takes the mask
    // picture to write it: `late` appears in between, as another program's file would.
    QImage &maskPicture() override
    {
        if (armed)
            armed = false, writeFile(dir + late, "made meanwhile");
        return mask;
    }
    bool beepAfterEachFile() const override { return true; }
    bool cheerAtEnd() const override { return true; }
    // y, n, c(ancel); upper case answers for the rest of the batch too.
    Overwrite askOverwrite(const QString &, bool more, bool &forRest) override
    {
        add(more ? "ask*" : "ask");
        const QChar a = answers.front();
        answers.remove(0, 1);
        forRest = more && a.isUpper();
        return a.toLower() == 'y'   ? Overwrite::Yes
               : a.toLower() == 'n' ? Overwrite::No
                                    : Overwrite::Cancel;
    }
    void beep() override { add("beep"); }
    void log(const QString &text) override
    {
        const QString mask = MaskRun::outputName(current, suffixText);
        add(text == MaskRun::maskedEntry(current, mask) ? '+' + mask.mid(dir.size()) : text);
    }
    void logError(const QString &, const RunError &) override { add("error"); }
    void saveLog() override { add("savelog"); }
    QString logPath() const override { return dir + "debug.dat"; }
    void offerLog() override { add("offerlog"); }
    void reportFailure(const QString &) override { add("report"); }
    int fileCount() const override { return int(files.size()); }
    QString fileAt(int index) const override { return dir + files[index]; }
    bool loadSprite(const QString &path) override
    {
        current = path;
        try {
            sprite = readPicture(path).convertToFormat(QImage::Format_RGB32);
            mask = QImage(sprite.size(), QImage::Format_RGB32);
            return true;
        } catch (const RunError &) {
            return add('!' + path.mid(dir.size())), false;
        }
    }
    void cheer() override { add("cheer"); }
    void flash() override { add("flash"); }

    void add(const QString &token) { trace += (trace.isEmpty() ? "" : " ") + token; }
    QString dir, current, suffixText = "_mask", trace, late, answers, shownCounter, shownStatus;
    mutable bool armed = false;
    QStringList files;
    bool prompt = false, locked = false, cancelEnabled = false;
    int cancelAt = 0;
};

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
    void batchRules_data();
    void batchRules();
    void maskAllInTheWindow_data();
    void maskAllInTheWindow();

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
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("loads"); // in this order; bad.bmp is not a picture
    QTest::addColumn<QString>("message");
    const QByteArray current = "cmdMaskCurr", all = "cmdMaskAll";
    QTest::newRow("empty suffix") << current << ""
                                  << "hero.bmp"
                                  << "suffix is empty";
    QTest::newRow("suffix with a slash") << current << "/../x"
                                         << "hero.bmp"
                                         << "must not contain \"/\"";
    QTest::newRow("nothing loaded") << current << "_mask"
                                    << ""
                                    << "pick a file";
    // The surface still shows hero.bmp, which must not be masked under bad.bmp's name.
    QTest::newRow("the last load failed") << current << "_mask"
                                          << "hero.bmp bad.bmp"
                                          << "could not be loaded";
    QTest::newRow("Mask All, suffix with a slash") << all << "a/"
                                                   << ""
                                                   << "must not contain";
}

void TestMaskRun::refusesToStart()
{
    QFETCH(QByteArray, button);
    QFETCH(QString, suffix);
    QFETCH(QString, loads);
    QFETCH(QString, message);
    ScriptedDesktop desk;
    sprite("hero.bmp");
    writeFile(file("bad.bmp"), "not a picture");
    const auto before = contents(m_box->files.path());
    frmMain w;
    control<QLineEdit>(w, "txtSuffix")->setText(suffix);
    for (const QString &name : loads.split(' ', Qt::SkipEmptyParts))
        QCOMPARE(w.LoadPic(control<PictureSurface>(w, "picSprite"), file(name)),
                 name == "hero.bmp");
    w.addFiles({file("hero.bmp")}, true);
    control<QPushButton>(w, button.constData())->click();
    QCOMPARE(desk.messages.size(), 1);
    QVERIFY2(desk.messages[0].text.contains(message), qPrintable(desk.messages[0].text));
    QCOMPARE(contents(m_box->files.path()), before);
    QCOMPARE(control<QLabel>(w, "lblStatus")->text(), QStringLiteral("Status: Ready"));
    QCOMPARE(control<QLabel>(w, "lblFileStat")->text(), QStringLiteral("File 0 of 0"));
}

void TestMaskRun::batchRules_data()
{
    QTest::addColumn<QString>("files");    // "!" after a name: not a picture
    QTest::addColumn<QString>("existing"); // files holding "an older mask"; "/" a folder; "@"
                                           // one made between the check and the write
    QTest::addColumn<bool>("prompt");
    QTest::addColumn<QString>("answers"); // y or n, one per question
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("cancelAt"); // the yield at which Cancel is pressed; 0 never
    QTest::addColumn<QString>("trace");
    const auto row = [](const char *tag, const char *files, const char *existing, bool prompt,
                        const char *answers, const char *suffix, int cancelAt, const char *trace) {
        QTest::newRow(tag) << files << existing << prompt << answers << suffix << cancelAt << trace;
    };
    row("a file that cannot be loaded", "a.bmp b.bmp! c.bmp", "", false, "", "_mask", 0,
        "1/3 yield Ready beep +a_mask.bmp yield 2/3 !b.bmp Skipped yield 3/3 yield Ready beep "
        "+c_mask.bmp savelog offerlog cheer flash");
    row("the last file cannot be loaded", "a.bmp b.bmp!", "", false, "", "_mask", 0,
        "1/2 yield Ready beep +a_mask.bmp yield 2/2 !b.bmp Skipped savelog offerlog cheer flash");
    // The counter names the file that was not begun, never the one whose mask was written.
    row("cancelled between two files", "a.bmp b.bmp c.bmp", "", false, "", "_mask", 2,
        "1/3 yield Ready beep +a_mask.bmp yield 2/3 Cancelled");
    row("cancelled in a scan", "a.bmp b.bmp c.bmp", "", false, "", "_mask", 3,
        "1/3 yield Ready beep +a_mask.bmp yield 2/3 yield Cancelled");
    row("asked, no", "a.bmp b.bmp", "a_mask.bmp", true, "n", "_mask", 0,
        "1/2 yield Ready ask* beep yield 2/2 yield Ready beep +b_mask.bmp cheer flash");
    row("no for the rest", "a.bmp b.bmp c.bmp", "a_mask.bmp c_mask.bmp", true, "N", "_mask", 0,
        "1/3 yield Ready ask* beep yield 2/3 yield Ready beep +b_mask.bmp yield 3/3 yield Ready "
        "beep cheer flash");
    row("yes for the rest", "a.bmp b.bmp", "a_mask.bmp b_mask.bmp", true, "Y", "_mask", 0,
        "1/2 yield Ready ask* beep +a_mask.bmp yield 2/2 yield Ready beep +b_mask.bmp cheer "
        "flash");
    row("yes once, then asked again", "a.bmp b.bmp", "a_mask.bmp b_mask.bmp", true, "yn", "_mask",
        0, "1/2 yield Ready ask* beep +a_mask.bmp yield 2/2 yield Ready ask beep cheer flash");
    // Cancel in the question stops the batch as the window's Cancel does: nothing written.
    row("cancelled at the question", "a.bmp b.bmp", "a_mask.bmp", true, "c", "_mask", 0,
        "1/2 yield Ready ask* Cancelled");
    row("asked, yes", "a.bmp", "a_mask.bmp", true, "y", "_mask", 0,
        "1/1 yield Ready ask beep +a_mask.bmp cheer flash");
    row("not asked", "a.bmp", "a_mask.bmp", false, "", "_mask", 0,
        "1/1 yield Ready beep +a_mask.bmp cheer flash");
    row("hidden mask, asked, no", ".a.bmp", ".a_mask.bmp", true, "n", "_mask", 0,
        "1/1 yield Ready ask beep cheer flash");
    // Names are names, not patterns: another file that would match is not the mask.
    row("? in the name", "what?.bmp", "whatX_mask.bmp", true, "", "_mask", 0,
        "1/1 yield Ready beep +what?_mask.bmp cheer flash");
    row("a mask that cannot be written", "a.bmp b.bmp", "b_mask.bmp/", false, "", "_mask", 0,
        "1/2 yield Ready beep +a_mask.bmp yield 2/2 yield Ready Error error savelog offerlog "
        "cheer flash");
    row("an empty list", "", "", false, "", "_mask", 0, "cheer flash");
    // Asked about nothing, the run takes the name in the step that writes it: a mask made
    // in between is kept, and this one fails.
    row("a mask made meanwhile", "a.bmp", "a_mask.bmp@", true, "", "_mask", 0,
        "1/1 yield Ready Error error savelog offerlog cheer flash");
    // The window refuses an empty suffix before it starts; the run itself never writes a
    // mask over its sprite.
    row("empty suffix", "a.bmp", "", false, "", "", 0, "1/1 yield Ready beep cheer flash");
}

void TestMaskRun::batchRules()
{
    QFETCH(QString, files);
    QFETCH(QString, existing);
    QFETCH(bool, prompt);
    QFETCH(QString, answers);
    QFETCH(QString, suffix);
    QFETCH(int, cancelAt);
    QFETCH(QString, trace);
    FakeRunHost host(m_box->files.path());
    for (const QString &name : files.split(' ', Qt::SkipEmptyParts)) {
        if (name.endsWith('!'))
            writeFile(file(name.chopped(1)), "not a picture");
        else
            sprite(name); // 40 x 30: one refresh point
        host.files.append(name.endsWith('!') ? name.chopped(1) : name);
    }
    for (const QString &name : existing.split(' ', Qt::SkipEmptyParts))
        name.endsWith('@')   ? void(host.late = name.chopped(1))
        : name.endsWith('/') ? void(QDir().mkdir(file(name)))
                             : writeFile(file(name), "an older mask");
    host.answers = answers;
    host.prompt = prompt;
    host.suffixText = suffix;
    host.cancelAt = cancelAt;
    const auto before = contents(m_box->files.path());
    MaskRun(host).maskAll();
    QCOMPARE(host.trace, trace);
    QVERIFY(!host.locked && !host.cancelEnabled);
    if (trace.endsWith("Cancelled"))
        QVERIFY2(host.status.startsWith("Status: Cancelled("), qPrintable(host.status));
    // The masks the trace names are written; nothing else has changed.
    const auto after = contents(m_box->files.path());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY2(after.contains(it.key()), qPrintable(it.key()));
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (trace.split(' ').contains('+' + QFileInfo(it.key()).fileName()))
            QVERIFY2(it.value().startsWith("BM"), qPrintable(it.key()));
        else
            QCOMPARE(it.value(),
                     before.value(it.key(), !host.late.isEmpty() && it.key().endsWith(host.late)
                                                ? "made meanwhile"
                                                : "(none)"));
    }
}

void TestMaskRun::maskAllInTheWindow_data()
{
    QTest::addColumn<bool>("yes"); // the answer to the offer of the log
    QTest::addColumn<bool>("logWritable");
    QTest::addColumn<bool>("logRemoved"); // after it was written, before the user said Yes
    QTest::addColumn<bool>("editorStarts");
    QTest::addColumn<QString>("told"); // after the offer
    QTest::newRow("the log is offered and declined") << false << true << false << true << "";
    QTest::newRow("the log is offered and shown") << true << true << false << true << "";
    QTest::newRow("log cannot be written") << true << false << false << true << "";
    QTest::newRow("log removed meanwhile")
        << true << true << true << true
        << "The debug file does not exist. Please re-install Pelloran.";
    QTest::newRow("no editor starts") << true << true << false << false
                                      << "No text editor could be "
                                         "started to show '%1'.";
}

// Every format through the window, a file that cannot be loaded amid them, and a last file
// whose mask's name is taken by a folder, so its write fails: the batch still ends as usual,
// and the log on disk holds both failures.
void TestMaskRun::maskAllInTheWindow()
{
    QFETCH(bool, yes);
    QFETCH(bool, logWritable);
    QFETCH(bool, logRemoved);
    QFETCH(bool, editorStarts);
    QFETCH(QString, told);
    const QString dat = m_box->data.filePath("debug.dat");
    ScriptedDesktop desk;
    desk.answers = QList<Desktop::Answer>(2, yes ? Desktop::Answer::Yes : Desktop::Answer::No);
    desk.canStart = editorStarts;
    desk.onMessage = [&](const QString &) {
        if (logRemoved)
            QFile::remove(dat);
    };
    if (!logWritable)
        DebugLog.setDataPath(m_box->data.path() + "/missing/");
    const QImage hero = randomSprite(64, 48, Black, 1);
    writeBmp(hero, file("hero.bmp"));
    writeBmp(hero, file("noext"));
    hero.save(file("hero.png"), "PNG");
    hero.save(file("hero.jpg"), "JPG", 95);
    writeFile(file("sample.gif"), gif());
    writeFile(file("damaged.bmp"), "this is not a picture");
    sprite("b.bmp");
    QVERIFY(QDir(m_box->files.path()).mkdir("b_mask.bmp"));
    const QStringList names{"hero.bmp", "damaged.bmp", "noext", "hero.png",
                            "hero.jpg", "sample.gif",  "b.bmp"};
    QStringList files;
    for (const QString &n : names)
        files.append(file(n));
    const auto before = contents(m_box->files.path());
    frmMain w;
    w.show();
    w.setWindowState(Qt::WindowMinimized);
    w.addFiles(files, true);
    control<QPushButton>(w, "cmdMaskAll")->click();

    // The log is offered when the write fails, and again at the end for the skipped file.
    const int each = told.isEmpty() ? 1 : 2;
    QCOMPARE(desk.messages.size(), 2 * each);
    for (int i = 0; i < 2 * each; i += each) {
        if (logWritable)
            QCOMPARE(desk.messages[i].text,
                     "An error has occured! Do you wish to see the debug file?\n\n" + dat);
        else
            QVERIFY2(desk.messages[i].text.contains("debug log could not"),
                     qPrintable(desk.messages[i].text));
        if (!told.isEmpty())
            QCOMPARE(desk.messages[i + 1].text, told.arg(dat));
    }
    QCOMPARE(desk.opened.size(), yes && logWritable && !logRemoved ? 2 : 0);
    QVERIFY(control<QLabel>(w, "lblStatus")
                ->text()
                .startsWith("Status: Error(100%, After 0 Seconds)... See "));
    const QString log = DebugLog.GetHistory();
    QVERIFY(log.contains("] Can't load '" + file("damaged.bmp") + "' (Err#481"));
    QVERIFY(log.contains("] An error occured while masking '" + file("b.bmp") + "'. (Err#"));
    if (logWritable && !logRemoved)
        QCOMPARE(readFile(dat), log.toUtf8());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QCOMPARE(readFile(it.key()), it.value());
    QVERIFY(!QFile::exists(file("damaged_mask.bmp")));
    for (const QString &n : names.mid(0, 6)) {
        if (n == QLatin1String("damaged.bmp"))
            continue;
        const QString out = MaskRun::outputName(file(n), "_mask");
        QVERIFY(log.contains("] Image '" + file(n) + "' masked successfully; mask saved as '" +
                             out + "'."));
        QVERIFY2(readFile(out).startsWith("BM"), qPrintable(out)); // BMP whatever the name says
        const QImage source = readPicture(file(n));
        QCOMPARE(readPicture(out), referenceMask(source, source.size(), Black, White));
    }
    QCOMPARE(control<QLabel>(w, "lblFileStat")->text(), QStringLiteral("File 7 of 7"));
    // The batch still cheers and flashes.
    QCOMPARE(desk.sounds, QStringList{QCoreApplication::applicationDirPath() + "/snd/cheer.wav"});
    QVERIFY(QFile::exists(desk.sounds.first())); // the build lays the sound out beside us
    QCOMPARE(desk.alerts, QList<int>{3500});
    QVERIFY(control<QPushButton>(w, "cmdMaskAll")->isEnabled() &&
            control<QComboBox>(w, "lstFiles")->isEnabled() &&
            !control<QPushButton>(w, "cmdCancel")->isEnabled());
}

// Memory running out while a sprite is read is one more file that cannot be loaded: logged
// with its number, the window and the batch go on.
void TestMaskRun::loadOutOfMemory()
{
    ScriptedDesktop desk;
    frmMain w;
    const QString path = sprite(QStringLiteral("big.bmp"));
    InputFile::setReadHook([](const QString &, qint64) { throw std::bad_alloc(); });
    const bool loaded = w.LoadPic(control<PictureSurface>(w, "picSprite"), path);
    InputFile::setReadHook({});
    QVERIFY(!loaded);
    QVERIFY2(DebugLog.GetHistory().contains("Can't load '" + path + "' (Err#7"),
             qPrintable(DebugLog.GetHistory()));
}

QTEST_MAIN(TestMaskRun)
#include "tst_maskrun.moc"
