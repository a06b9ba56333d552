#pragma once

#include "MaskWindow.h"

class RunError;

// What a masking run (MaskRun) needs beyond the scan: the colours, the lock, the options,
// the questions, the log, and the file list of a batch. Everything a run shows goes through
// MaskWindow::show, one whole view at a time. The window answers with its
// controls and dialogs (WindowRunHost); tests answer with a scripted stand-in.
class RunHost : public MaskWindow
{
public:
    // The two mask colours as they stand when a run starts.
    virtual Colour transparencyColour() const = 0;
    virtual Colour maskColour() const = 0;

    // The cancel flag cancelRun() reports, and the button that sets it.
    virtual void setCancelRun(bool set) = 0;
    virtual void setCancelEnabled(bool enabled) = 0;
    // Locks (false) or unlocks (true) everything a run must not let the user touch.
    virtual void ControlsEnabled(bool enable) = 0;

    // The sprite file the sprite surface shows, and the suffix the mask's name gets.
    virtual QString currentFile() const = 0;
    virtual QString suffix() const = 0;

    virtual bool promptOverwrite() const = 0;
    virtual bool beepAfterEachFile() const = 0;
    virtual bool cheerAtEnd() const = 0;

    enum class Overwrite { Yes, No, Cancel };
    // Whether to replace an existing mask file; Cancel stops the run as the Cancel button
    // does. With `moreFiles` the user may answer for the rest of the batch too: `forRest`
    // comes back true then.
    virtual Overwrite askOverwrite(const QString &outputName, bool moreFiles, bool &forRest) = 0;
    virtual void beep() = 0;

    virtual void log(const QString &text) = 0;
    virtual void logError(const QString &text, const RunError &error) = 0;
    // Writes the whole log to its file, keeping the previous one as a backup.
    // Raises RunError when it cannot.
    virtual void saveLog() = 0;
    virtual QString logPath() const = 0;
    // After a failure was logged: offers the user a look at the log.
    virtual void offerLog() = 0;
    // Tells the user of a failure the run survives (a log that cannot be written).
    virtual void reportFailure(const QString &message) = 0;

    // The batch: the files in the order they are masked.
    virtual int fileCount() const = 0;
    virtual QString fileAt(int index) const = 0;
    // Shows the file on the sprite surface and makes it the current file; false when it
    // could not be loaded (the host has logged why).
    virtual bool loadSprite(const QString &path) = 0;
    virtual void cheer() = 0;
    virtual void flash() = 0;
};
