#include "frmMain.h"

#include "Attention.h"
#include "Desktop.h"
#include "MaskRun.h"
#include "PictureSurface.h"
#include "RunUtils.h"
#include "modMain.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QUrl>

#include <cmath>

void frmMain::ControlsEnabled(bool Enable)
{
    for (const TaggedControl &t : std::as_const(m_tagged)) {
        if (!t.tag.contains(QLatin1String("<d>")))
            continue;
        if (auto *menu = qobject_cast<QMenu *>(t.control))
            menu->menuAction()->setEnabled(Enable);
        else if (auto *w = qobject_cast<QWidget *>(t.control))
            w->setEnabled(Enable);
        else if (auto *a = qobject_cast<QAction *>(t.control))
            a->setEnabled(Enable);
    }
}

void frmMain::MaskFile()
{
    const QScopedValueRollback running(m_running, true);
    MaskRun run(*this);
    run.maskFile();
    m_lastScan = run.lastScan();
}

void frmMain::FlashMe()
{
    if (isMinimized())
        FlashWindowTimes(this, 3, 500);
}

bool frmMain::runCanStart()
{
    const QString problem = MaskRun::suffixProblem(txtSuffix->text());
    if (!problem.isEmpty()) {
        tell(this, problem);
        return false;
    }
    return true;
}

void frmMain::cmdMaskAll_Click()
{
    if (m_running || !runCanStart())
        return;
    const QScopedValueRollback running(m_running, true);
    MaskRun run(*this);
    // The first refresh point of a batch is painted at once: the screen would otherwise go
    // on showing the window unlocked, as the last batch left it, for a whole frame.
    m_lastFrame.invalidate();
    {
        const QScopedValueRollback batch(m_batch, true);
        run.maskAll();
    }
    m_lastScan = run.lastScan();
    // The batch's last state, whenever its last frame was.
    m_holdingScreen = false;
    paintFrame();
}

void frmMain::cmdMaskCurr_Click()
{
    if (m_running || !runCanStart())
        return;
    if (!m_spriteLoaded) {
        tell(this, CurrentFile.isEmpty()
                       ? QStringLiteral("There is no sprite to mask yet: pick a file "
                                        "from the list first.")
                       : QStringLiteral("'") + CurrentFile +
                             QStringLiteral("' could not be loaded, so there is "
                                            "nothing to mask. Pick another file."));
        return;
    }
    setCaption(lblFileStat, QStringLiteral("File 1 of 1"));
    MaskFile();
    FlashMe();
}

void frmMain::cmdCancel_Click()
{
    CancelRun = true;
    cmdCancel->setEnabled(false);
    ControlsEnabled(true);
}

// --- what a masking run sees of the window ---

const QImage &frmMain::spritePicture() const
{
    return picSprite->image();
}

QImage &frmMain::maskPicture()
{
    return picMask->image();
}

void frmMain::clearMask()
{
    picMask->clear();
}

void frmMain::maskPictureChanged()
{
    closeFrame();
    picMask->update();
    m_screenDue = true;
}

QSize frmMain::progressBarSize() const
{
    return picProgress->image().size();
}

void frmMain::clearProgressBar()
{
    closeFrame();
    picProgress->clear();
}

void frmMain::fillProgressBar(float right)
{
    closeFrame();
    picProgress->fillRect(QRect(0, 0, int(std::lround(right)), picProgress->image().height()),
                          0xFF0000);
}

bool frmMain::scrollFollowsScan() const
{
    return chkDoScroll->isChecked();
}

double frmMain::maskViewportWidth() const
{
    return conMask->drawableWidth();
}

int frmMain::hScrMaskMax() const
{
    return HScrMask->maximum();
}

int frmMain::hScrSpriteMax() const
{
    return HScrSprite->maximum();
}

void frmMain::setHScrMaskValue(int value)
{
    HScrMask->setValue(value);
}

void frmMain::setHScrSpriteValue(int value)
{
    HScrSprite->setValue(value);
}

void frmMain::setStatus(const QString &text)
{
    setCaption(lblStatus, text);
    // The status of a refresh point is set after its yield; its frame waits for it.
    closeFrame();
}

void frmMain::setCancelEnabled(bool enabled)
{
    cmdCancel->setEnabled(enabled);
}

QString frmMain::suffix() const
{
    return txtSuffix->text();
}

bool frmMain::promptOverwrite() const
{
    return chkPromptOverwrite->isChecked();
}

bool frmMain::beepAfterEachFile() const
{
    return chkBeep->isChecked();
}

bool frmMain::cheerAtEnd() const
{
    return chkCheer->isChecked();
}

bool frmMain::askOverwrite(const QString &outputName)
{
    const auto released = releaseScreen();
    return ask(this,
               QStringLiteral("'") + outputName + QStringLiteral("' already exists. Overwrite?"));
}

void frmMain::beep()
{
    desktop().beep();
}

void frmMain::log(const QString &text)
{
    DebugLog.Print_(text);
}

void frmMain::logError(const QString &text, const RunError &error)
{
    DebugLog.Print_(text, error);
}

void frmMain::saveLog()
{
    DebugLog.SaveHistory(QStringLiteral("debug.dat"), true);
}

QString frmMain::logPath() const
{
    return DebugLog.dataPath() + QStringLiteral("debug.dat");
}

void frmMain::offerLog()
{
    const auto released = releaseScreen();
    if (!ask(this, QStringLiteral("An error has occured! Do you wish to see the debug file?"),
             Desktop::Icon::Exclamation))
        return;
    if (!QFileInfo(logPath()).isFile()) {
        tell(this, QStringLiteral("The debug file does not exist. Please re-install Pelloran."));
        return;
    }
    if (!desktop().openUrl(QUrl::fromLocalFile(logPath())))
        reportFailure(QStringLiteral("No text editor could be started to show '") + logPath() +
                      QStringLiteral("'."));
}

void frmMain::reportFailure(const QString &message)
{
    const auto released = releaseScreen();
    tell(this, message);
}

int frmMain::fileCount() const
{
    return lstFiles->count();
}

QString frmMain::fileAt(int index) const
{
    return lstFiles->itemText(index);
}

void frmMain::setFileCounter(const QString &text)
{
    setCaption(lblFileStat, text);
}

bool frmMain::loadSprite(const QString &path)
{
    return LoadPic(picSprite, path);
}

void frmMain::cheer()
{
    PlayWave(QStringLiteral("cheer.wav"), SndAsync | SndNoDefault);
}

void frmMain::flash()
{
    FlashMe();
}

// While a scan runs, the window's own repaint requests are held back: each of the scan's
// yields would otherwise repaint whatever moved, thousands of times a second. Nothing is
// switched off while holding, so whatever is painted (a frame, an expose of the window)
// paints every control. Frames are painted synchronously, when the scan says one is due.

bool frmMain::event(QEvent *event)
{
    if (event->type() == QEvent::UpdateRequest && m_holdingScreen && !m_painting)
        return true; // painted with the next frame, which paints everything that is due
    return QMainWindow::event(event);
}

void frmMain::paintFrame()
{
    if (m_picturesBehind) {
        const QScopedValueRollback released(m_holdingScreen, false);
        scrollPictures();
    }
    const QScopedValueRollback painting(m_painting, true);
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(this, &request);
    m_lastFrame.start();
}

bool frmMain::frameDue() const
{
    return !m_lastFrame.isValid() || m_lastFrame.elapsed() >= m_repaintInterval;
}

QScopedValueRollback<bool> frmMain::releaseScreen()
{
    if (m_holdingScreen)
        paintFrame();
    return QScopedValueRollback<bool>(m_holdingScreen, false);
}

void frmMain::closeFrame()
{
    if (!m_frameOpen)
        return;
    m_frameOpen = false;
    paintFrame();
}

void frmMain::scanStarted()
{
    // What was set up for this scan (the sprite, the file counter, the emptied mask and
    // bar) is on screen before anything is held back. A batch paints its frames when they
    // are due, and rather with a finished mask than with an emptied one: a long scan shows
    // its start at its first frame.
    m_inScan = true;
    if (!m_batch)
        paintFrame();
    m_holdingScreen = true;
    m_screenDue = false;
    m_frameOpen = false;
}

void frmMain::scanEnded()
{
    m_inScan = false;
    closeFrame();
    // However short the scan, its finished mask is shown; in a batch, once a frame is due.
    if (m_batch) {
        m_screenDue = true;
        if (frameDue()) {
            m_screenDue = false;
            paintFrame();
        }
        return;
    }
    m_holdingScreen = false;
    paintFrame();
}

void frmMain::yield()
{
    // A frame that is due shows this refresh point: its mask and bar now, its status text
    // when the scan sets it after this yield. Between two files of a batch it shows the
    // last file's end. Input is handled at every yield.
    closeFrame();
    if (m_holdingScreen && m_screenDue && frameDue()) {
        m_screenDue = false;
        if (m_inScan)
            m_frameOpen = true;
        else
            paintFrame();
    }
    QCoreApplication::processEvents();
}
