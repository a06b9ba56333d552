#include "Attention.h"
#include "EndSignals.h"
#include "FileOps.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include <csignal>
#include <functional>

namespace
{

QSet<QString> disabledNames(const frmMain &w)
{
    QSet<QString> names;
    for (const frmMain::TaggedControl &t : w.taggedControls())
        if (!frmMain::isControlEnabled(t.control))
            names.insert(t.control->objectName());
    return names;
}

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void escapeCancelsOnlyDuringARun();
    void scanInTheWindow_data();
    void scanInTheWindow();
    void opensCentred();
    void paintedBeforeLoadsAndQuestions();
    void signalEndsTheSessionMidScan_data();
    void signalEndsTheSessionMidScan();
    void noRunStartsInsideAnother();
    void filesGivenToTheWindow_data();
    void filesGivenToTheWindow();
    void panesScrollApart();
    void flashLastsAsLongAsItsSwitches();

private:
    QTemporaryDir m_settings;
};

void TestFrmMain::initTestCase()
{
    QVERIFY(m_settings.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
}

// During a run the lock disables the marked controls but leaves Quit and the options free;
// Esc cancels only then, and the unlock enables every marked control, also those that were
// disabled before.
void TestFrmMain::escapeCancelsOnlyDuringARun()
{
    frmMain w;
    w.Form_Load();
    const QSet<QString> atRest{"cmdAppendFiles", "cmdClearList", "cmdCancel", "mnuSaveSprite",
                               "mnuSaveMask"};
    QCOMPARE(disabledNames(w), atRest);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w, 120000));
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(disabledNames(w), atRest);

    control<PictureSurface>(w, "picSprite")->setPicture(QImage(300, 300, QImage::Format_RGB32));
    QSet<QString> locked;
    bool quitFree = false;
    QTimer::singleShot(0, &w, [&] {
        locked = disabledNames(w);
        quitFree = control<QAction>(w, "mnuQuit")->isEnabled() &&
                   control<QMenu>(w, "mnuOptions")->menuAction()->isEnabled() &&
                   control<QAction>(w, "chkBeep")->isEnabled();
        QTest::keyClick(&w, Qt::Key_Escape);
    });
    w.MaskFile();
    QCOMPARE(locked,
             (QSet<QString>{"picMColor", "txtSuffix", "cmdMaskAll", "picTColor", "cmdMaskCurr",
                            "cmdClearList", "cmdAppendFiles", "picMask", "picSprite", "cmdSelFiles",
                            "lstFiles", "mnuSaveSprite", "mnuSaveMask", "mnuHelp"}));
    QVERIFY(quitFree);
    const QString status = control<QLabel>(w, "lblStatus")->text();
    QVERIFY2(status.startsWith(QStringLiteral("Status: Cancelled(")), qPrintable(status));
    QCOMPARE(disabledNames(w), QSet<QString>{"cmdCancel"});
    // Cancelled at the first refresh: pixel 999 lies in column 3 of 300.
    QCOMPARE(w.lastScan().percent, 1);
}

void TestFrmMain::scanInTheWindow_data()
{
    QTest::addColumn<QSize>("sprite");
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("hScroll");
    QTest::newRow("fits the pane") << QSize(60, 40) << true << 0;
    QTest::newRow("wide, following") << QSize(500, 100) << true << 159;
    QTest::newRow("wide, not following") << QSize(500, 400) << false << 0;
}

void TestFrmMain::scanInTheWindow()
{
    QFETCH(QSize, sprite);
    QFETCH(bool, follow);
    QFETCH(int, hScroll);
    frmMain w;
    w.Form_Load();
    w.setMaskRepaintInterval(0);
    control<QAction>(w, "chkDoScroll")->setChecked(follow);
    const QImage pic = randomSprite(sprite.width(), sprite.height(), Black, 3);
    control<PictureSurface>(w, "picSprite")->setPicture(pic);
    w.MaskFile();
    QCOMPARE(control<PictureSurface>(w, "picMask")->image(),
             referenceMask(pic, sprite, Black, White));
    QCOMPARE(control<QLabel>(w, "lblStatus")->text(),
             QStringLiteral("Status: Ready (0 Seconds Used)"));
    QCOMPARE(control<QScrollBar>(w, "HScrMask")->value(), hScroll);
    QCOMPARE(control<QScrollBar>(w, "HScrSprite")->value(), hScroll);
    QCOMPARE(control<PictureSurface>(w, "picMask")->x(), -hScroll);
    // The bar is full and blue.
    const QImage &bar = control<PictureSurface>(w, "picProgress")->image();
    QCOMPARE(fromQRgb(bar.pixel(bar.width() - 1, bar.height() - 1)), Colour(0xFF0000));
}

void TestFrmMain::opensCentred()
{
    frmMain w;
    const QRect avail = w.screen()->availableGeometry();
    QRect r(QPoint(0, 0), w.size());
    r.moveCenter(avail.center());
    // Taller than the test screen: the top stays on it.
    QCOMPARE(w.pos(), QPoint(std::max(r.left(), avail.left()), std::max(r.top(), avail.top())));
    QCOMPARE(w.pos().x(), r.left());
    // Its fonts keep their quarter points: a whole 9 or 15 would lay the window out smaller.
    QCOMPARE(control<QLabel>(w, "lblTitle")->font().pointSizeF(), 15.75);
    QCOMPARE(control<QLabel>(w, "lblStatus")->font().pointSizeF(), 9.75);
}

// However long a batch's next file takes to load, its counter is on screen first; while the
// overwrite question is up, the window behind it paints what is asked of it.
void TestFrmMain::paintedBeforeLoadsAndQuestions()
{
    Sandbox box;
    ScriptedDesktop desk;
    frmMain w;
    w.setMaskRepaintInterval(0);
    writeBmp(randomSprite(60, 40, Black, 1), box.file("a.bmp"));
    writeBmp(randomSprite(60, 40, Black, 1), box.file("a_mask.bmp"));
    w.addFiles({box.file("a.bmp"), box.file("a.bmp")}, true);
    control<QAction>(w, "chkPromptOverwrite")->setChecked(true);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w, 120000));
    auto *counter = control<QLabel>(w, "lblFileStat");
    auto *status = control<QLabel>(w, "lblStatus");
    QString painted;
    QStringList atLoads;
    int paints = 0;
    QList<int> paintsAsked;
    PaintWatch watch;
    watch.onPaint = [&](QWidget *widget) {
        if (widget == counter)
            painted = counter->text();
        else
            ++paints;
    };
    counter->installEventFilter(&watch);
    status->installEventFilter(&watch);
    InputFile::setReadHook([&](const QString &, qint64) { atLoads.append(painted); });
    desk.answers = {Desktop::Answer::No, Desktop::Answer::No};
    desk.onMessage = [&](const QString &) {
        const int before = paints;
        status->update();
        QCoreApplication::processEvents();
        paintsAsked.append(paints - before);
    };
    control<QPushButton>(w, "cmdMaskAll")->click();
    InputFile::setReadHook({});
    QVERIFY(!atLoads.isEmpty());
    QCOMPARE(atLoads.last(), QStringLiteral("File 2 of 2"));
    QCOMPARE(paintsAsked.size(), 2);
    QVERIFY(paintsAsked[0] > 0 && paintsAsked[1] > 0);
}

void TestFrmMain::signalEndsTheSessionMidScan_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("TERM") << SIGTERM;
    QTest::newRow("HUP") << SIGHUP;
    QTest::newRow("INT") << SIGINT;
}

void TestFrmMain::signalEndsTheSessionMidScan()
{
    QFETCH(int, signal);
    Sandbox box;
    ScriptedDesktop desk;
    frmMain w;
    w.Form_Load();
    control<QAction>(w, "chkBeep")->setChecked(false);
    control<QLineEdit>(w, "txtSuffix")->setText("_m");
    const EndSignals ends;
    bool midScan = false;
    connect(&ends, &EndSignals::received, &w, [&] {
        midScan = control<QPushButton>(w, "cmdCancel")->isEnabled();
        w.endSession();
    });
    control<PictureSurface>(w, "picSprite")->setPicture(QImage(300, 300, QImage::Format_RGB32));
    QTimer::singleShot(0, &w, [signal] { std::raise(signal); });
    w.MaskFile();
    QVERIFY(midScan);
    QCOMPARE(desk.endedWith, QList<int>{0});
    QCOMPARE(desk.messages.size(), 0);
    QCOMPARE(GetSetting("settings", "chkBeep", ""), QStringLiteral("False"));
    QCOMPARE(GetSetting("sys", "suffix", ""), QStringLiteral("_m"));
    QVERIFY(readFile(box.data.filePath("debug.dat")).endsWith("] Terminating...\r\n"));
}

// A Cancel unlocks the window while the scan is still in its yield; a click on Mask
// Current or Mask All in that same yield must not start a run inside the one ending.
void TestFrmMain::noRunStartsInsideAnother()
{
    Sandbox box;
    ScriptedDesktop desk;
    frmMain w;
    QStringList files;
    for (const char *n : {"a.bmp", "b.bmp", "c.bmp"}) {
        writeBmp(randomSprite(100, 100, Black, 1), box.file(n));
        files.append(box.file(n));
    }
    w.addFiles(files, true);
    QTimer::singleShot(0, &w, [&] {
        control<QPushButton>(w, "cmdCancel")->click();
        control<QPushButton>(w, "cmdMaskCurr")->click();
        control<QPushButton>(w, "cmdMaskAll")->click();
    });
    control<QPushButton>(w, "cmdMaskAll")->click();
    QCOMPARE(control<QLabel>(w, "lblFileStat")->text(), QStringLiteral("File 1 of 3"));
    QVERIFY(control<QLabel>(w, "lblStatus")->text().startsWith("Status: Cancelled("));
    QVERIFY(!QFile::exists(box.file("a_mask.bmp")) && !QFile::exists(box.file("b_mask.bmp")));
}

// Files on the command line are appended as they are (folders by the list's pattern, missing
// ones left out); a drop takes every picture with Shift held, else the list's pattern. In a
// folder, an earlier run's masks are left out.
void TestFrmMain::filesGivenToTheWindow_data()
{
    QTest::addColumn<int>("how"); // 0 the command line, 1 a drop, 2 a drop with Shift held
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("command line") << 0 << QStringList{"a.bmp", "sub/c.bmp"};
    QTest::newRow("dropped, bmp files") << 1 << QStringList{"a.bmp", "sub/c.bmp"};
    QTest::newRow("dropped, every picture") << 2 << QStringList{"a.bmp", "b.png", "sub/c.bmp"};
}

void TestFrmMain::filesGivenToTheWindow()
{
    QFETCH(int, how);
    QFETCH(QStringList, listed);
    Sandbox box;
    QVERIFY(QDir(box.files.path()).mkdir("sub"));
    for (const QString &name : {"a.bmp", "b.png", "sub/c.bmp", "a_mask.bmp", "sub/c_mask.bmp"})
        QVERIFY(randomSprite(9, 5, Black, 1).save(box.file(name)));
    writeFile(box.file("sub/d.gif"), "not a picture");
    frmMain w;
    if (how == 0) {
        w.openFiles({box.file("a.bmp"), box.file("sub"), box.file("missing.bmp")});
    } else {
        QMimeData data;
        data.setUrls(
            {QUrl::fromLocalFile(box.files.path()), QUrl::fromLocalFile(box.file("sub/c.bmp"))});
        const auto mods = how == 2 ? Qt::ShiftModifier : Qt::NoModifier;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w, 120000));
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, mods);
        QCoreApplication::sendEvent(&w, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, mods);
        QCoreApplication::sendEvent(&w, &drop);
    }
    QStringList got;
    const auto *list = control<QComboBox>(w, "lstFiles");
    for (int i = 0; i < list->count(); ++i)
        got.append(QDir(box.files.path()).relativeFilePath(list->itemText(i)));
    QCOMPARE(got, listed);
    QCOMPARE(w.currentFile(), box.file("a.bmp"));
    QCOMPARE(control<PictureSurface>(w, "picSprite")->image().size(), QSize(9, 5));
    QVERIFY(control<QPushButton>(w, "cmdAppendFiles")->isEnabled() &&
            control<QPushButton>(w, "cmdClearList")->isEnabled());
}

// The panes scroll apart; a narrower picture brings the bar down to its new maximum.
void TestFrmMain::panesScrollApart()
{
    frmMain w;
    auto *sprite = control<PictureSurface>(w, "picSprite");
    auto *hSprite = control<QScrollBar>(w, "HScrSprite");
    sprite->setPicture(QImage(900, 100, QImage::Format_RGB32));
    hSprite->setValue(559);
    QCOMPARE(control<PictureSurface>(w, "picMask")->x(), 0);
    control<QScrollBar>(w, "HScrMask")->setValue(100);
    QCOMPARE(sprite->x(), -559);
    sprite->setPicture(QImage(500, 100, QImage::Format_RGB32));
    QCOMPARE(hSprite->value(), 159);
    QCOMPARE(sprite->x(), -159);
    QCOMPARE(control<QScrollBar>(w, "HScrMask")->value(), 100);
    // Each bar gets the overhang of its own direction.
    sprite->setPicture(QImage(500, 700, QImage::Format_RGB32));
    QCOMPARE(control<QScrollBar>(w, "VScrSprite")->maximum(),
             700 - control<PictureSurface>(w, "conSprite")->drawableHeight());
}

// No count, however small or large, makes the alert vanish or overflow.
void TestFrmMain::flashLastsAsLongAsItsSwitches()
{
    ScriptedDesktop desk;
    QWidget w;
    FlashWindowTimes(&w, 0, 500); // zero times still switches once
    FlashWindowTimes(&w, 16383, 32767);
    QCOMPARE(desk.alerts, (QList<int>{500, 3600000}));
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
