#pragma once

#include "MaskWindow.h"

#include <QScopedValueRollback>
#include <QtGlobal>

#include <functional>
#include <optional>

// When the window paints during a run, and what. A scan yields thousands of times a second
// and each yield would repaint whatever moved, so while a run goes on the window's own
// repaint requests are held back and frames are painted here, synchronously: at most one per
// interval, the run's end always, the first frame of a batch at once, whatever the run has
// shown before a question is asked, and, before a batch's next file is loaded (which can
// take longer than a frame for a large picture), its file counter.
//
// A run hands over whole views (RunView); a frame applies the latest one to the controls and
// paints. The controls change nowhere else during a run, so a frame shows one moment of it:
// the mask as far as the scan had brought it, with the bar, status and scroll bars of that
// same moment.
//
// No widgets: the window hands in how to apply a view, how to paint and how to move its
// pictures, and the clock.
class FramePacer
{
public:
    // Milliseconds from any fixed origin; never goes back.
    using Clock = std::function<qint64()>;
    struct Screen {
        // Puts a view on the controls (not yet on the screen).
        std::function<void(const RunView &)> apply;
        // Paints everything that is due, now (also while repaints are held back).
        std::function<void()> paint;
        // Brings the pictures to their scroll bars' positions; see picturesMayMove().
        std::function<void()> movePictures;
    };

    explicit FramePacer(Screen screen, Clock clock = {});

    int interval() const { return m_interval; }
    void setInterval(int ms) { m_interval = ms; }

    // Whether the window should drop a repaint request of its own now: it is painted with
    // the next frame, which paints everything that is due.
    bool holdsRepaints() const { return m_holding && !m_painting; }
    // Moving a picture scrolls the window's backing store; while repaints are held the
    // pictures follow their bars once a frame instead. False: the move waits for the frame.
    bool picturesMayMove();

    // Mask All: from its start to its end the screen stays held, so the files between two
    // frames are not each painted. Its first frame comes at once (the screen would otherwise
    // show the window unlocked, as the last batch left it, for a frame); the end is always
    // painted.
    void batchStarted();
    void batchEnded();
    // Bracket the pixel loop of a scan, which shows its start before it begins.
    void scanStarted();
    void scanEnded();
    // Whether a frame would be painted now.
    bool frameDue() const;
    // A view of the run; see MaskWindow::Show for when it is painted.
    void show(const RunView &view, MaskWindow::Show when);
    // For a question asked during a run: what the run has shown so far is painted, and the
    // window repaints as usual behind the question until the returned guard ends.
    [[nodiscard]] QScopedValueRollback<bool> release();

private:
    void paint();

    Screen m_screen;
    Clock m_clock;
    int m_interval = 30;
    bool m_holding = false;
    bool m_batch = false;
    bool m_painting = false;
    bool m_picturesBehind = false;
    // The latest view handed over that no frame has shown yet.
    std::optional<RunView> m_pending;
    std::optional<qint64> m_lastFrame;
    qint64 m_lastLoad = 0;
};
