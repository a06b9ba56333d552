#include "Attention.h"

#include "Desktop.h"
#include "ProgramFiles.h"

#include <algorithm>

void PlayWave(const QString &fileName, quint16 flags)
{
    Q_UNUSED(flags);
    desktop().playSound(programFilesPath() + QStringLiteral("snd/") + fileName);
}

void FlashWindowTimes(QWidget *window, qint16 times, qint16 milliseconds)
{
    // times * 2 + 1 switches with a pause after each; computed wide so no value overflows.
    const qint64 total = (qint64(times) * 2 + 1) * qint64(milliseconds);
    desktop().alert(window, int(std::clamp<qint64>(total, 0, 60 * 60 * 1000)));
}
