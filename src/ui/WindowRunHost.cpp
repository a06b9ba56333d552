#include "WindowRunHost.h"

#include "Attention.h"
#include "Desktop.h"
#include "PictureSurface.h"
#include "RunUtils.h"
#include "frmMain.h"
#include "modMain.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>

#include <cmath>

const QImage &WindowRunHost::spritePicture() const
{
    return m_w.picSprite->image();
}

QImage &WindowRunHost::maskPicture()
{
    return m_w.picMask->image();
}

void WindowRunHost::clearMask()
{
    m_w.picMask->clear();
}

bool WindowRunHost::scrollFollowsScan() const
{
    return m_w.chkDoScroll->isChecked();
}

double WindowRunHost::maskViewportWidth() const
{
    return m_w.conMask->drawableWidth();
}

int WindowRunHost::hScrMaskMax() const
{
    return m_w.HScrMask->maximum();
}

bool WindowRunHost::frameDue() const
{
    return m_w.m_pacer.frameDue();
}

void WindowRunHost::show(const RunView &view, Show when)
{
    m_w.m_pacer.show(view, when);
}

void WindowRunHost::yield()
{
    // Input is handled at every yield; what it changes on screen waits for the next frame.
    QCoreApplication::processEvents();
}

void WindowRunHost::scanStarted()
{
    m_w.m_pacer.scanStarted();
}

void WindowRunHost::scanEnded()
{
    m_w.m_pacer.scanEnded();
}

bool WindowRunHost::cancelRun() const
{
    return m_w.CancelRun;
}

Colour WindowRunHost::transparencyColour() const
{
    return m_w.TColor;
}

Colour WindowRunHost::maskColour() const
{
    return m_w.MColor;
}

void WindowRunHost::setCancelRun(bool set)
{
    m_w.CancelRun = set;
}

void WindowRunHost::setCancelEnabled(bool enabled)
{
    m_w.cmdCancel->setEnabled(enabled);
}

void WindowRunHost::ControlsEnabled(bool enable)
{
    m_w.ControlsEnabled(enable);
}

QString WindowRunHost::currentFile() const
{
    return m_w.CurrentFile;
}

QString WindowRunHost::suffix() const
{
    return m_w.txtSuffix->text();
}

bool WindowRunHost::promptOverwrite() const
{
    return m_w.chkPromptOverwrite->isChecked();
}

bool WindowRunHost::beepAfterEachFile() const
{
    return m_w.chkBeep->isChecked();
}

bool WindowRunHost::cheerAtEnd() const
{
    return m_w.chkCheer->isChecked();
}

RunHost::Overwrite WindowRunHost::askOverwrite(const QString &outputName, bool moreFiles,
                                               bool &forRest)
{
    const auto released = m_w.m_pacer.release();
    forRest = false;
    const Desktop::Answer answer = desktop().question(
        &m_w, QStringLiteral("'") + outputName + QStringLiteral("' already exists. Overwrite?"),
        moreFiles ? QStringLiteral("Do the same for the remaining files") : QString(), forRest);
    return answer == Desktop::Answer::Yes  ? Overwrite::Yes
           : answer == Desktop::Answer::No ? Overwrite::No
                                           : Overwrite::Cancel;
}

void WindowRunHost::beep()
{
    desktop().beep();
}

void WindowRunHost::log(const QString &text)
{
    DebugLog.Print_(text);
}

void WindowRunHost::logError(const QString &text, const RunError &error)
{
    DebugLog.Print_(text, error);
}

void WindowRunHost::saveLog()
{
    DebugLog.SaveHistory(QStringLiteral("debug.dat"), true);
}

QString WindowRunHost::logPath() const
{
    return DebugLog.dataPath() + QStringLiteral("debug.dat");
}

void WindowRunHost::offerLog()
{
    const auto released = m_w.m_pacer.release();
    // The status line may show the log's path shortened; the question names it whole.
    if (!ask(&m_w,
             QStringLiteral("An error has occured! Do you wish to see the debug file?\n\n") +
                 logPath(),
             Desktop::Icon::Exclamation))
        return;
    if (!QFileInfo(logPath()).isFile()) {
        tell(&m_w, QStringLiteral("The debug file does not exist. Please re-install Pelloran."));
        return;
    }
    if (!desktop().openUrl(QUrl::fromLocalFile(logPath())))
        tell(&m_w, QStringLiteral("No text editor could be started to show '") + logPath() +
                       QStringLiteral("'."));
}

void WindowRunHost::reportFailure(const QString &message)
{
    const auto released = m_w.m_pacer.release();
    tell(&m_w, message);
}

int WindowRunHost::fileCount() const
{
    return m_w.lstFiles->count();
}

QString WindowRunHost::fileAt(int index) const
{
    return m_w.lstFiles->itemText(index);
}

bool WindowRunHost::loadSprite(const QString &path)
{
    return m_w.LoadPic(m_w.picSprite, path);
}

void WindowRunHost::cheer()
{
    PlayWave(QStringLiteral("cheer.wav"), SndAsync | SndNoDefault);
}

void WindowRunHost::flash()
{
    m_w.FlashMe();
}
