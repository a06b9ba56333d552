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
    if (m_pending) {
        // Taken out first: applying it may move a scroll bar, which must not see it again.
        const RunView view = std::move(*m_pending);
        m_pending.reset();
        m_screen.apply(view);
    }
    if (m_picturesBehind) {
        const QScopedValueRollback released(m_holding, false);
        m_screen.movePictures();
    }
    const QScopedValueRollback painting(m_painting, true);
    m_screen.paint();
    m_lastFrame = m_clock();
}

bool FramePacer::frameDue() const
{
    return !m_holding || !m_lastFrame || m_clock() - *m_lastFrame >= m_interval;
}

void FramePacer::show(const RunView &view, MaskWindow::Show when)
{
    // A view replaces the one waiting for a frame, but not its order to move the bars.
    std::optional<int> scroll = view.scroll;
    if (!scroll && m_pending)
        scroll = m_pending->scroll;
    m_pending = view;
    m_pending->scroll = scroll;
    bool now = false;
    switch (when) {
    case MaskWindow::Show::Now: now = true; break;
    case MaskWindow::Show::IfDue: now = frameDue(); break;
    case MaskWindow::Show::BeforeLoad: {
        // A large picture takes longer to load than a frame lasts: without this the screen
        // would show the previous file's counter and its last frame all that time. Files
        // that come faster than one a frame are shown at the frames only.
        const qint64 at = m_clock();
        const bool slowFiles = at - m_lastLoad >= m_interval;
        m_lastLoad = at;
        now = slowFiles || frameDue();
        break;
    }
    }
    if (now)
        paint();
}

QScopedValueRollback<bool> FramePacer::release()
{
    paint();
    return QScopedValueRollback<bool>(m_holding, false);
}

void FramePacer::batchStarted()
{
    m_batch = true;
    m_holding = true;
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
    // The scan has shown its start (the sprite, the emptied mask and bar) before this; a
    // batch holds the screen from its start to its end already.
    m_holding = true;
}

void FramePacer::scanEnded()
{
    if (m_batch)
        return;
    // However short the scan, its finished mask is shown.
    m_holding = false;
    paint();
}
