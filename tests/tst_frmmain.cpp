#include "PictureSurface.h"
#include "ReferenceMask.h"
#include "ScriptedDesktop.h"
#include "frmMain.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

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
    void startsWithTheDesignStates();
    void lockWalksTheMarkedControls();
    void escapeCancelsOnlyDuringARun();
    void scanInTheWindow_data();
    void scanInTheWindow();

private:
    QTemporaryDir m_settings;
};

void TestFrmMain::initTestCase()
{
    QVERIFY(m_settings.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
}

void TestFrmMain::startsWithTheDesignStates()
{
    frmMain w;
    // The design's check marks hold until the stored ones (all four when none are stored)
    // replace them at load.
    QVERIFY(!w.chkPromptOverwrite->isChecked());
    QVERIFY(w.chkBeep->isChecked() && w.chkCheer->isChecked() && w.chkDoScroll->isChecked());
    w.Form_Load();
    QVERIFY(w.chkPromptOverwrite->isChecked());
    QCOMPARE(disabledNames(w), (QSet<QString>{"cmdAppendFiles", "cmdClearList", "cmdCancel",
                                              "mnuSaveSprite", "mnuSaveMask"}));
    QCOMPARE(w.lblVer->text(), QStringLiteral("Version: 1.21"));
    QCOMPARE(w.cmdMaskAll->font().pointSizeF(), 9.75); // not cut down to 9
}

void TestFrmMain::lockWalksTheMarkedControls()
{
    frmMain w;
    const QSet<QString> before = disabledNames(w);
    w.ControlsEnabled(false);
    const QSet<QString> marked{"picMColor", "txtSuffix",      "cmdMaskAll",   "picTColor",
                               "cmdMaskCurr", "cmdClearList", "cmdAppendFiles", "picMask",
                               "picSprite", "cmdSelFiles",    "lstFiles",     "mnuSaveSprite",
                               "mnuSaveMask", "mnuHelp"};
    QCOMPARE(disabledNames(w), marked + QSet<QString>{"cmdCancel"});
    QVERIFY(!w.mnuHelp->menuAction()->isEnabled());
    QVERIFY(w.mnuQuit->isEnabled() && w.mnuOptions->menuAction()->isEnabled());
    // Unlocking enables every marked control, also those that were disabled before.
    w.ControlsEnabled(true);
    QCOMPARE(disabledNames(w), QSet<QString>{"cmdCancel"});
    QVERIFY(before.contains("cmdAppendFiles"));
}

void TestFrmMain::escapeCancelsOnlyDuringARun()
{
    frmMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(!w.CancelRun);

    w.picSprite->setPicture(QImage(300, 300, QImage::Format_RGB32));
    bool helpLocked = false, quitFree = false;
    QTimer::singleShot(0, &w, [&] {
        helpLocked = !w.mnuHelp->menuAction()->isEnabled();
        quitFree = w.mnuQuit->isEnabled() && w.chkBeep->isEnabled();
        QTest::keyClick(&w, Qt::Key_Escape);
    });
    w.MaskFile();
    QVERIFY(helpLocked);
    QVERIFY(quitFree);
    QVERIFY(w.CancelRun);
    QVERIFY2(w.lblStatus->text().startsWith(QStringLiteral("Status: Cancelled(")),
             qPrintable(w.lblStatus->text()));
    QVERIFY(!w.cmdCancel->isEnabled());
    QVERIFY(w.cmdMaskAll->isEnabled());
    // Cancelled at the first refresh: pixel 999 lies in column 3 of 300.
    QCOMPARE(w.lastScan().percent, 1);
}

void TestFrmMain::scanInTheWindow_data()
{
    QTest::addColumn<QSize>("sprite");
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("hMax");
    QTest::addColumn<int>("vMax");
    QTest::addColumn<int>("hScroll");
    QTest::newRow("fits the pane") << QSize(60, 40) << true << 0 << 0 << 0;
    QTest::newRow("wide, following") << QSize(500, 100) << true << 159 << 0 << 159;
    QTest::newRow("wide and tall, not following") << QSize(500, 400) << false << 159 << 59 << 0;
    QTest::newRow("exactly the pane") << QSize(341, 341) << true << 0 << 0 << 0;
}

void TestFrmMain::scanInTheWindow()
{
    QFETCH(QSize, sprite);
    QFETCH(bool, follow);
    QFETCH(int, hMax);
    QFETCH(int, vMax);
    QFETCH(int, hScroll);
    frmMain w;
    w.Form_Load();
    w.setMaskRepaintInterval(0);
    w.chkDoScroll->setChecked(follow);
    const QImage pic = randomSprite(sprite.width(), sprite.height(), Black, 3);
    w.picSprite->setPicture(pic);
    QCOMPARE(w.picMask->image().size(), sprite);
    QCOMPARE(w.HScrMask->maximum(), hMax);
    QCOMPARE(w.HScrSprite->maximum(), hMax);
    QCOMPARE(w.VScrMask->maximum(), vMax);

    w.MaskFile();
    QCOMPARE(w.picMask->image(), referenceMask(pic, sprite, Black, White));
    QCOMPARE(w.lblStatus->text(), QStringLiteral("Status: Ready (0 Seconds Used)"));
    QCOMPARE(w.HScrMask->value(), hScroll);
    QCOMPARE(w.HScrSprite->value(), hScroll);
    QCOMPARE(w.picMask->x(), -hScroll);
    // The bar is full and blue.
    const QImage &bar = w.picProgress->image();
    QCOMPARE(fromQRgb(bar.pixel(0, 0)), Colour(0xFF0000));
    QCOMPARE(fromQRgb(bar.pixel(bar.width() - 1, bar.height() - 1)), Colour(0xFF0000));
    QVERIFY(!w.cmdCancel->isEnabled());
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
