#pragma once

#include "Colour.h"

#include <QImage>
#include <QSize>
#include <QString>

// What a masking run needs of the window that shows it. The main window implements it;
// tests and benchmarks implement it with plain images, and a command-line front end can
// implement it without any widget at all.
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

    // The two mask colours as they stand when a run starts.
    virtual Colour transparencyColour() const = 0;
    virtual Colour maskColour() const = 0;

    // Lets the user act: repaints, clicks, Cancel. The only place the run is re-entered.
    virtual void yield() = 0;
    // Bracket the pixel loop of a scan. A window may hold back its own repaints in between
    // and show them only when maskPictureChanged() says a new frame is due, so that the
    // thousands of yields of a large sprite do not each repaint the window.
    virtual void scanStarted() {}
    virtual void scanEnded() {}

    virtual bool cancelRun() const = 0;
    virtual void setCancelRun(bool set) = 0;
    virtual void setCancelEnabled(bool enabled) = 0;
    // Locks (false) or unlocks (true) everything a run must not let the user touch.
    virtual void ControlsEnabled(bool enable) = 0;
};
