#include "MaskRun.h"

#include "MaskWindow.h"
#include "Rounding.h"

MaskRun::MaskRun(MaskWindow &window) : m_window(window) {}

QString MaskRun::readyText(float elapsed)
{
    return QStringLiteral("Status: Ready (") + QString::number(roundHalfEven(elapsed)) +
           QStringLiteral(" Seconds Used)");
}

QString MaskRun::errorText(int percent, float elapsed)
{
    return QStringLiteral("Status: Error(") + QString::number(percent) +
           QStringLiteral("%, After ") + QString::number(roundHalfEven(elapsed)) +
           QStringLiteral(" Seconds)... See data/debug.dat");
}

void MaskRun::maskFile()
{
    MaskWindow &w = m_window;
    w.setCancelRun(false);
    w.setCancelEnabled(true);
    w.ControlsEnabled(false);

    MaskScan scan(w, w.transparencyColour(), w.maskColour());
    m_last = scan.run();

    switch (m_last.outcome) {
    case MaskScan::Result::Cancelled:
        // The Cancel button has already unlocked the window.
        return;
    case MaskScan::Result::Failed:
        w.ControlsEnabled(true);
        w.setCancelEnabled(false);
        w.setStatus(errorText(m_last.percent, m_last.elapsed));
        return;
    case MaskScan::Result::Completed:
        w.ControlsEnabled(true);
        w.setCancelEnabled(false);
        w.setStatus(readyText(m_last.elapsed));
        return;
    }
}
