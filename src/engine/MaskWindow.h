#pragma once

#include "Colour.h"

#include <QImage>
#include <QSize>
#include <QString>

// What a scan needs of the window that shows it: the two pictures, the progress bar, the
// scroll bars, the status line, and the user's chance to act. The window answers through
// its run host (RunHost.h); tests and benchmarks answer with plain images. The command line
// does not scan through this: it runs FileJob.
//
// The run calls these only at its refresh points (every 1000 counted pixels) and at the
// start and end of a scan, never per pixel, so a virtual call here costs nothing that
// matters.
class MaskWindow
{
public:
    virtual ~MaskWindow() = default;

    // The sprite surface's picture (its drawable area; Format_RGB32) and the mask
    // surface's persistent image, which the pane layout keeps at the sprite's size.
    virtual const QImage &spritePicture() const = 0;
    virtual QImage &maskPicture() = 0;
    // Clears the mask's persistent image to the surface's background colour.
    virtual void clearMask() = 0;
    // The mask image was written to; show it at the next repaint.
    virtual void maskPictureChanged() = 0;
    // How often, in milliseconds, the mask built so far is brought onto the screen
    // during a scan. 0 brings it up to date at every refresh point.
    virtual int maskRepaintInterval() const { return 30; }

    // The progress bar: its drawable size, clearing it, and filling it from the left
    // edge to `right` (pixels, full height) in blue.
    virtual QSize progressBarSize() const = 0;
    virtual void clearProgressBar() = 0;
    virtual void fillProgressBar(float right) = 0;

    // "Increment the scrollbars" and the two horizontal bars it moves.
    virtual bool scrollFollowsScan() const = 0;
    virtual double maskViewportWidth() const = 0;
    virtual int hScrMaskMax() const = 0;
    virtual int hScrSpriteMax() const = 0;
    virtual void setHScrMaskValue(int value) = 0;
    virtual void setHScrSpriteValue(int value) = 0;

    virtual void setStatus(const QString &text) = 0;

    // Lets the user act: repaints, clicks, Cancel. The only place the run is re-entered.
    virtual void yield() = 0;
    // Bracket the pixel loop of a scan. A window may hold back its own repaints in between
    // and show them only when maskPictureChanged() says a new frame is due, so that the
    // thousands of yields of a large sprite do not each repaint the window.
    virtual void scanStarted() {}
    virtual void scanEnded() {}

    // The user asked the run to stop (Cancel, Esc); seen after each yield.
    virtual bool cancelRun() const = 0;
};
