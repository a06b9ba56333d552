#include "LinkLabel.h"
#include "RunError.h"
#include "Settings.h"
#include "TestSupport.h"
#include "frmAbout.h"

#include <QRegularExpression>
#include <QTimer>

namespace
{

QString readBack(const QString &section, const QString &key)
{
    return GetSetting(section, key, QStringLiteral("<missing>"));
}

QStringList lines(const QString &text)
{
    QStringList l = text.split(QStringLiteral("\r\n"));
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l;
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void startUpRestoresTheStore_data();
    void startUpRestoresTheStore();
    void exitQuestion_data();
    void exitQuestion();
    void log();
    void unwritableStore();
    void linksReachTheDesktopWhole_data();
    void linksReachTheDesktopWhole();

private:
    std::unique_ptr<Sandbox> m_box;
};

void TestShell::init()
{
    m_box = std::make_unique<Sandbox>();
}

// Each row also saves a suffix a plain ini writer would mangle and reads it back.
void TestShell::startUpRestoresTheStore_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QList<bool>>("checks"); // prompt, beep, cheer, scroll
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("saved");
    const QList<bool> all{true, true, true, true};
    QTest::newRow("empty store") << QByteArray() << all << "_mask"
                                 << "";
    QTest::newRow("only sys suffix") << QByteArray("[sys]\nsuffix=-m\n") << all << "_mask"
                                     << "  _m a s k  ";
    QTest::newRow("letter case and numbers")
        << QByteArray("[settings]\nchkPromptOverwrite=fALSE\nchkBeep=0\nchkCheer=-1\n"
                      "chkDoScroll=TRUE\ntxtSuffix=_m\n")
        << QList<bool>{false, false, true, true} << "_m"
        << "_a,b";
    QTest::newRow("unreadable values take the default")
        << QByteArray("[settings]\nchkBeep=maybe\nchkCheer=\n") << all << "_mask"
        << "x;y=z [q] #r";
    QTest::newRow("stored empty suffix")
        << QByteArray("[settings]\ntxtSuffix=\n") << all << "" << QString::fromUtf8("\"ü\" \\");
}

void TestShell::startUpRestoresTheStore()
{
    QFETCH(QByteArray, ini);
    QFETCH(QList<bool>, checks);
    QFETCH(QString, suffix);
    QFETCH(QString, saved);
    QDir().mkpath(m_box->settings.path() + QStringLiteral("/Pelloran"));
    writeFile(m_box->settings.path() + QStringLiteral("/Pelloran/Pelloran.ini"), ini);
    {
        frmMain w;
        w.Form_Load();
        const QList<bool> got{control<QAction>(w, "chkPromptOverwrite")->isChecked(),
                              control<QAction>(w, "chkBeep")->isChecked(),
                              control<QAction>(w, "chkCheer")->isChecked(),
                              control<QAction>(w, "chkDoScroll")->isChecked()};
        QCOMPARE(got, checks);
        auto *box = control<QLineEdit>(w, "txtSuffix");
        QCOMPARE(box->text(), suffix);
        box->setText(saved);
        control<QAction>(w, "chkBeep")->setChecked(!checks[1]);
        w.SaveSettings();
    }
    frmMain w;
    w.Form_Load();
    QCOMPARE(control<QLineEdit>(w, "txtSuffix")->text(), saved);
    QCOMPARE(control<QAction>(w, "chkBeep")->isChecked(), !checks[1]);
}

void TestShell::exitQuestion_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("logWritable");
    QTest::addColumn<bool>("fromMenu"); // File > Exit, or the close box
    QTest::addColumn<bool>("scanning"); // asked from inside a scan's yield
    QTest::newRow("declined keeps the window") << false << true << true << false;
    QTest::newRow("confirmed writes sys and the log") << true << true << false << false;
    QTest::newRow("confirmed, the log cannot be written") << true << false << true << false;
    QTest::newRow("yes mid-scan ends inside the yield") << true << true << false << true;
    QTest::newRow("no mid-scan lets the scan go on") << false << true << false << true;
}

// The settings are saved whatever the answer; [sys] and the log only on the way out.
void TestShell::exitQuestion()
{
    QFETCH(bool, yes);
    QFETCH(bool, logWritable);
    QFETCH(bool, fromMenu);
    QFETCH(bool, scanning);
    ScriptedDesktop desk;
    desk.answers = {yes ? Desktop::Answer::Yes : Desktop::Answer::No};
    DebugLog.Print_(QStringLiteral("Applet started..."));
    const QString dat = m_box->data.filePath(QStringLiteral("debug.dat"));
    writeFile(dat, "previous run\r\n");
    if (!logWritable)
        DebugLog.setDataPath(m_box->data.path() + QStringLiteral("/no such folder/"));
    frmMain w;
    w.Form_Load();
    w.show();
    control<QLineEdit>(w, "txtSuffix")->setText(QStringLiteral(" _m"));
    control<QAction>(w, "chkPromptOverwrite")->setChecked(true);
    control<QAction>(w, "chkDoScroll")->setChecked(false);
    const auto ask = [&] {
        fromMenu ? control<QAction>(w, "mnuQuit")->trigger() : void(w.close());
    };
    bool scanRunningAtEnd = false;
    if (scanning) {
        control<PictureSurface>(w, "picSprite")->setPicture(QImage(200, 200, QImage::Format_RGB32));
        QTimer::singleShot(0, &w, [&] {
            ask();
            scanRunningAtEnd =
                !desk.endedWith.isEmpty() && control<QPushButton>(w, "cmdCancel")->isEnabled();
        });
        w.MaskFile();
        QCOMPARE(scanRunningAtEnd, yes);
        if (!yes)
            QCOMPARE(control<QLabel>(w, "lblStatus")->text(),
                     QStringLiteral("Status: Ready (0 Seconds Used)"));
    } else {
        ask();
    }
    QCOMPARE(desk.messages.size(), 1);
    QCOMPARE(desk.messages[0].text, QStringLiteral("Do you really want to exit?"));
    QCOMPARE(desk.messages[0].icon, Desktop::Icon::Question);
    QCOMPARE(desk.endedWith, yes ? QList<int>{0} : QList<int>{});
    QVERIFY(yes || w.isVisible());
    QCOMPARE(readBack("settings", "txtSuffix"), QStringLiteral(" _m"));
    QCOMPARE(readBack("settings", "chkDoScroll"), QStringLiteral("False"));
    QCOMPARE(readBack("sys", "suffix"), yes ? QStringLiteral(" _m") : QStringLiteral("<missing>"));
    QCOMPARE(readBack("sys", "overwrite"),
             yes ? QStringLiteral("True") : QStringLiteral("<missing>"));
    const QStringList log = lines(QString::fromUtf8(readFile(dat)));
    if (!yes || !logWritable) {
        QCOMPARE(log, QStringList{"previous run"});
        return;
    }
    QCOMPARE(log.size(), 2);
    QVERIFY(log.first().endsWith(QStringLiteral("] Applet started...")));
    QVERIFY(log.last().endsWith(QStringLiteral("] Terminating...")));
    QCOMPARE(readFile(dat + ".bak"), QByteArray("previous run\r\n"));
}

// Each entry is stamped and ended by CR LF; the file written before is kept as a backup, and a
// missing data folder is an error the caller sees.
void TestShell::log()
{
    clsDebug log;
    log.setDataPath(m_box->data.path() + QLatin1Char('/'));
    const QString dat = m_box->data.filePath(QStringLiteral("debug.dat"));
    log.Print_(QStringLiteral("Applet started..."));
    log.SaveHistory(QStringLiteral("debug.dat"), true);
    QVERIFY(!QFile::exists(dat + ".bak")); // nothing to back up the first time
    const QByteArray first = readFile(dat);
    log.Print_(QStringLiteral("Can't load '/x/a b.bmp'"),
               RunError::of(RunError::FileNotFound, QStringLiteral("/x/a b.bmp")));
    log.Print_(QStringLiteral("two\r\nlines"));
    log.SaveHistory(QStringLiteral("debug.dat"), true);
    QCOMPARE(readFile(dat + ".bak"), first);
    QCOMPARE(readFile(dat), log.GetHistory().toUtf8());
    const QStringList l = lines(log.GetHistory());
    QCOMPARE(l.size(), 4);
    const QRegularExpression head(QStringLiteral(R"(^\[[^\]]+ - [^\]]*\d\d[^\]]*\] )"));
    QVERIFY2(head.match(l[0]).hasMatch(), qPrintable(l[0]));
    QVERIFY(l[1].endsWith(
        QStringLiteral("] Can't load '/x/a b.bmp' (Err#53: File not found: /x/a b.bmp)")));
    QCOMPARE(l[3], QStringLiteral("lines"));

    log.setDataPath(m_box->data.path() + QStringLiteral("/missing/"));
    try {
        log.SaveHistory(QStringLiteral("debug.dat"), true);
        QFAIL("a missing data folder must raise");
    } catch (const RunError &e) {
        QCOMPARE(e.number(), int(RunError::PathNotFound));
    }
}

// A store whose folder cannot be made (a file stands at its name, which binds root too): the
// window goes on, and the log says so once however often the settings are saved.
void TestShell::unwritableStore()
{
    writeFile(m_box->settings.filePath("Pelloran"), "not a folder");
    reportSettingsNotSaved([](const QString &m) { DebugLog.Print_(m); });
    frmMain w;
    w.SaveSettings();
    w.SaveSettings();
    reportSettingsNotSaved({});
    QCOMPARE(DebugLog.GetHistory().count("The settings could not be saved to '"), 1);
}

void TestShell::linksReachTheDesktopWhole_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("canOpen");
    QTest::newRow("blanks, quotes, semicolon") << "my sprites; rm -rf 'x' \"y\"" << true;
    QTest::newRow("nothing can open it, no system information on PATH") << "plain" << false;
}

void TestShell::linksReachTheDesktopWhole()
{
    QFETCH(QString, folder);
    QFETCH(bool, canOpen);
    QTemporaryDir dir;
    AppPath = dir.path() + '/' + folder + '/';
    ScriptedDesktop desk;
    desk.canStart = canOpen;
    frmMain w;
    control<QAction>(w, "mnuMainHelp")->trigger();
    QCOMPARE(desk.opened.size(), 1);
    QCOMPARE(desk.opened[0].toLocalFile(), AppPath + "readme.txt");
    QVERIFY(desk.started.isEmpty());
    QCOMPARE(desk.messages.size(), canOpen ? 0 : 1);
    QTest::mouseClick(control<LinkLabel>(w, "lblWebsite"), Qt::LeftButton);
    QCOMPARE(desk.opened.value(1), QUrl(QStringLiteral("https://github.com/pelloran/pelloran")));
    QCOMPARE(desk.messages.size(), canOpen ? 0 : 2); // told of each link that did not open
    // The mail link keeps the blank before its subject.
    frmAbout about;
    QTest::mouseClick(about.lblEmail, Qt::LeftButton);
    QCOMPARE(desk.opened.value(2),
             QUrl(QStringLiteral(
                      "mailto:pelloran@users.noreply.github.com ?subject=Pelloran Version: 1.22"),
                  QUrl::TolerantMode));
    // System Info starts the first program of its list that is on the PATH, and says so when
    // there is none.
    const QString program = dir.filePath(QStringLiteral("kinfocenter"));
    if (canOpen) {
        writeFile(program, "#!/bin/sh\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    }
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", dir.path().toLocal8Bit());
    const qsizetype told = desk.messages.size();
    about.cmdSysInfo->click();
    qputenv("PATH", oldPath);
    QCOMPARE(desk.started, canOpen ? QList<QStringList>{{program}} : QList<QStringList>{});
    QCOMPARE(desk.messages.size(), told + (canOpen ? 0 : 1));
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
