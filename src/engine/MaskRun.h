#pragma once

#include "MaskScan.h"

class MaskWindow;

// Masks the picture that the window's sprite surface shows: locks the window, scans, and
// reports how it ended in the status line. The window and a command-line front end share
// this one run; neither repeats its steps.
class MaskRun
{
public:
    explicit MaskRun(MaskWindow &window);

    // Always returns normally; a cancel is seen by the caller through the window's cancel
    // flag, a failure through lastScan().
    void maskFile();

    const MaskScan::Result &lastScan() const { return m_last; }

    static QString readyText(float elapsed);
    static QString errorText(int percent, float elapsed);

private:
    MaskWindow &m_window;
    MaskScan::Result m_last;
};
