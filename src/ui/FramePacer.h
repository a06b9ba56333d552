#pragma once

#include <QScopedValueRollback>
#include <QtGlobal>

#include <functional>
#include <optional>

// When the window paints during a run. A scan yields thousands of times a second and each
// yield would repaint whatever moved, so while a scan runs the window's own repaint requests
// are held back and frames are painted here, synchronously, when one is due: at most one
// per interval, the run's end always, the first refresh point of a batch at once, whatever
// the run has shown before a question is asked, and, before a batch's next file is loaded
// (which can take longer than a frame for a large picture), its file counter. Nothing is
// switched off while holding, so whatever is painted (a frame, an expose) paints every
// control that is due.
//
// No widgets: the window hands in how to paint and how to move its pictures, and the clock.
class FramePacer
{
public:
    // Milliseconds from any fixed origin; never goes back.
    using Clock = std::function<qint64()>;
    struct Screen {
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

    // Mask All: from its first scan to its end the screen stays held, so the files between
    // two frames are not each painted. The first refresh point is painted at once (the
    // screen would otherwise show the window unlocked, as the last batch left it, for a
    // frame); the end is always painted.
    void batchStarted();
    void batchEnded();
    // Bracket the pixel loop of a scan.
    void scanStarted();
    void scanEnded();
    // The refresh point's frame is painted once its status is set (after its yield), or
    // before the next refresh point changes the bar or the mask: call before either changes
    // and after the status is set.
    void closeFrame();
    // The mask was written to: the screen is due for a frame.
    void maskChanged();
    // A yield of the run, before the window handles input.
    void yielding();
    // The next file of a batch is about to be loaded, its counter set: shown first when a
    // frame is due or when the files come slower than one a frame.
    void fileLoading();
    // For a question asked during a run: what the run has shown so far is painted, and the
    // window repaints as usual behind the question until the returned guard ends.
    [[nodiscard]] QScopedValueRollback<bool> release();

private:
    void paint();
    bool due() const;

    Screen m_screen;
    Clock m_clock;
    int m_interval = 30;
    bool m_holding = false;
    bool m_batch = false;
    bool m_inScan = false;
    bool m_painting = false;
    // Something changed since the last frame.
    bool m_screenDue = false;
    // A frame is due and waits for its refresh point's status text.
    bool m_frameOpen = false;
    bool m_picturesBehind = false;
    std::optional<qint64> m_lastFrame;
    qint64 m_lastLoad = 0;
};
