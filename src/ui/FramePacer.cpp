#include "FramePacer.h"

#include <QElapsedTimer>

namespace
{

qint64 steadyMs()
{
    static const QElapsedTimer origin = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return origin.elapsed();
}

} // namespace

FramePacer::FramePacer(Screen screen, Clock clock)
    : m_screen(std::move(screen)), m_clock(clock ? std::move(clock) : Clock(steadyMs))
{
}

bool FramePacer::picturesMayMove()
{
    m_picturesBehind = m_holding;
    return !m_holding;
}

void FramePacer::paint()
{
    if (m_picturesBehind) {
        const QScopedValueRollback released(m_holding, false);
        m_screen.movePictures();
    }
    const QScopedValueRollback painting(m_painting, true);
    m_screen.paint();
    m_lastFrame = m_clock();
}

bool FramePacer::due() const
{
    return !m_lastFrame || m_clock() - *m_lastFrame >= m_interval;
}

QScopedValueRollback<bool> FramePacer::release()
{
    if (m_holding)
        paint();
    return QScopedValueRollback<bool>(m_holding, false);
}

void FramePacer::closeFrame()
{
    if (!m_frameOpen)
        return;
    m_frameOpen = false;
    paint();
}

void FramePacer::maskChanged()
{
    m_screenDue = true;
}

void FramePacer::batchStarted()
{
    m_batch = true;
    m_lastFrame.reset();
    m_lastLoad = m_clock();
}

void FramePacer::batchEnded()
{
    // The batch's last state, whenever its last frame was.
    m_batch = false;
    m_holding = false;
    paint();
}

void FramePacer::scanStarted()
{
    // What was set up for this scan (the sprite, the file counter, the emptied mask and
    // bar) is on screen before anything is held back. A batch paints its frames when they
    // are due, and rather with a finished mask than with an emptied one: a long scan shows
    // its start at its first frame.
    m_inScan = true;
    if (!m_batch)
        paint();
    m_holding = true;
    m_screenDue = false;
    m_frameOpen = false;
}

void FramePacer::scanEnded()
{
    m_inScan = false;
    closeFrame();
    // However short the scan, its finished mask is shown; in a batch, once a frame is due.
    if (m_batch) {
        m_screenDue = true;
        if (due()) {
            m_screenDue = false;
            paint();
        }
        return;
    }
    m_holding = false;
    paint();
}

void FramePacer::yielding()
{
    // A frame that is due shows this refresh point: its mask and bar now, its status text
    // when the scan sets it after this yield. Between two files of a batch it shows the
    // last file's end.
    closeFrame();
    if (m_holding && m_screenDue && due()) {
        m_screenDue = false;
        if (m_inScan)
            m_frameOpen = true;
        else
            paint();
    }
}

void FramePacer::fileLoading()
{
    // A large picture takes longer to load than a frame lasts: without this the screen
    // would show the previous file's counter and its last frame all that time. Files that
    // come faster than one a frame are shown at the frames only.
    const qint64 now = m_clock();
    const bool slowFiles = now - m_lastLoad >= m_interval;
    m_lastLoad = now;
    if (m_holding && (slowFiles || due())) {
        m_screenDue = false;
        paint();
    }
}
