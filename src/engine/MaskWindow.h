#pragma once

#include "Colour.h"

#include <QImage>
#include <QString>

#include <climits>
#include <optional>

// What the window shows of a run at one moment: the file counter, the status line, the
// progress bar and where the horizontal scroll bars stand. The mask picture belongs to the
// same moment: the run brings it up to date just before it hands a view over. The window
// shows a view whole or not at all, so no frame can mix two moments of a run (a bar that
// has moved on past the columns on screen, a status behind its bar).
struct RunView {
    // Moves the bars to their end, whatever their range is by then.
    static constexpr int ScrollToEnd = INT_MAX;

    QString fileCounter;
    QString status;
    // A file the status ends with (the debug log after an error): shown as short as the
    // window needs, in full where the user can look it up.
    QString statusPath;
    // Filled hundredths of the progress bar; none leaves the bar as it stands (a run that has
    // not scanned yet).
    std::optional<int> percent;
    // Where both horizontal bars go; none leaves them where the user put them.
    std::optional<int> scroll;
};

// What a scan needs of the window that shows it: the two pictures, the scroll geometry, a
// way to show a view, and the user's chance to act. The window answers through its run host
// (RunHost.h); tests and benchmarks answer with plain images. The command line does not scan
// through this: it runs FileJob.
//
// The run calls these only at its refresh points (every 1000 counted pixels) and at the start
// and end of a scan, never per pixel, so a virtual call here costs nothing that matters.
class MaskWindow
{
public:
    enum class Show {
        IfDue,      // the window shows it with its next frame, or now when a frame is due
        Now,        // shown before the call returns: a question, a long write or the end
        BeforeLoad, // the next file is about to be loaded: now, unless files come faster
                    // than frames
    };

    virtual ~MaskWindow() = default;

    // The sprite surface's picture (its drawable area; Format_RGB32) and the mask
    // surface's persistent image, which the pane layout keeps at the sprite's size.
    virtual const QImage &spritePicture() const = 0;
    virtual QImage &maskPicture() = 0;
    // Clears the mask's persistent image to the surface's background colour.
    virtual void clearMask() = 0;

    // "Increment the scrollbars", the mask pane's visible width and its bar's range, as the
    // scan reads them to place the panes.
    virtual bool scrollFollowsScan() const = 0;
    virtual double maskViewportWidth() const = 0;
    virtual int hScrMaskMax() const = 0;

    // Whether the screen is ready for a new frame. Only then does a scan bring the mask up
    // to its position and show a view: between frames nothing it does can be seen.
    virtual bool frameDue() const = 0;
    virtual void show(const RunView &view, Show when) = 0;

    // Lets the user act: clicks, Cancel. The only place the run is re-entered.
    virtual void yield() = 0;
    // Bracket the pixel loop of a scan.
    virtual void scanStarted() {}
    virtual void scanEnded() {}

    // The user asked the run to stop (Cancel, Esc); seen after each yield.
    virtual bool cancelRun() const = 0;
};
