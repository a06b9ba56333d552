#include "frmMain.h"

#include "Attention.h"
#include "Desktop.h"
#include "MaskRun.h"
#include "PictureSurface.h"
#include "WindowRunHost.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>

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
    WindowRunHost host(*this);
    MaskRun run(host);
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
    WindowRunHost host(*this);
    MaskRun run(host);
    m_pacer.batchStarted();
    run.maskAll();
    m_pacer.batchEnded();
    m_lastScan = run.lastScan();
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

bool frmMain::event(QEvent *event)
{
    if (event->type() == QEvent::UpdateRequest && m_pacer.holdsRepaints())
        return true;
    return QMainWindow::event(event);
}

void frmMain::paintNow()
{
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(this, &request);
}

void frmMain::applyRunView(const RunView &view)
{
    // The run brought the mask up to this view's moment just before it handed the view over.
    picMask->update();
    if (!view.fileCounter.isEmpty())
        setCaption(lblFileStat, view.fileCounter);
    if (!view.status.isEmpty())
        setStatusLine(view.status, view.statusPath);
    if (view.percent && *view.percent != m_shownPercent) {
        m_shownPercent = *view.percent;
        // Percent hundredths of the bar's width, the right edge a single-precision value.
        const float right = float(picProgress->image().width() / 100.0 * *view.percent);
        picProgress->clear();
        picProgress->fillRect(QRect(0, 0, int(std::lround(right)), picProgress->image().height()),
                              0xFF0000);
    }
    if (view.scroll) {
        HScrMask->setValue(*view.scroll);
        HScrSprite->setValue(*view.scroll);
    }
}

void frmMain::setStatusLine(const QString &text, const QString &path)
{
    lblStatus->setToolTip(path);
    if (path.isEmpty()) {
        setCaption(lblStatus, text);
        return;
    }
    // The home folder as "~", then the middle left out until the line ends inside the window.
    const QString home = QDir::homePath();
    QString shown = path;
    if (home.size() > 1 && path.startsWith(home + QLatin1Char('/')))
        shown = QLatin1Char('~') + path.mid(home.size());
    const QFontMetrics fm(lblStatus->font());
    const int room = m_client->width() - lblStatus->x() - lblFileStat->x() -
                     fm.horizontalAdvance(text) -
                     (lblStatus->sizeHint().width() - fm.horizontalAdvance(lblStatus->text()));
    setCaption(lblStatus, text + fm.elidedText(shown, Qt::ElideMiddle, std::max(room, 0)));
}
