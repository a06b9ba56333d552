#include "modMain.h"

#include "Desktop.h"
#include "ProgramFiles.h"
#include "RunError.h"
#include "Settings.h"

#include <QApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>

clsDebug DebugLog;
QString AppPath;
QString DataPath;

void SetPaths()
{
    reportSettingsNotSaved([](const QString &message) { DebugLog.Print_(message); });
    AppPath = programFilesPath();
    // Beside the program's files when they come with a data folder the program may write
    // to (a build, or a folder of one's own); otherwise, as when installed for all users,
    // in the user's data folder, made when the log is first written.
    const QFileInfo beside(AppPath + QStringLiteral("data"));
    if (beside.isDir() && beside.isWritable()) {
        DataPath = AppPath + QStringLiteral("data/");
        DebugLog.setDataPath(DataPath);
    } else {
        DataPath = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                   QStringLiteral("/Pelloran/data/");
        DebugLog.setDataPath(DataPath, true);
    }
}

void ColorToRGB(qint16 &red, qint16 &green, qint16 &blue, qint32 colour)
{
    // Each component is the largest value up to 255 that still fits what is left, so an
    // out-of-range colour saturates rather than wraps.
    if (colour < 0)
        return;
    qint64 rest = colour;
    blue = qint16(std::min<qint64>(255, rest / 65536));
    rest -= qint64(blue) * 65536;
    green = qint16(std::min<qint64>(255, rest / 256));
    rest -= qint64(green) * 256;
    red = qint16(std::min<qint64>(255, rest));
}

bool QuitApp(QWidget *mainWindow, const QString &suffix, bool promptOverwrite)
{
    if (!ask(mainWindow, QStringLiteral("Do you really want to exit?")))
        return false;
    Terminate(mainWindow, suffix, promptOverwrite);
    return true;
}

void Terminate(QWidget *mainWindow, const QString &suffix, bool promptOverwrite)
{

    DebugLog.Print_(QStringLiteral("Terminating..."));
    SaveSetting(QStringLiteral("sys"), QStringLiteral("suffix"), suffix);
    SaveSetting(QStringLiteral("sys"), QStringLiteral("overwrite"), boolToSetting(promptOverwrite));
    try {
        DebugLog.SaveHistory(QStringLiteral("debug.dat"), true);
    } catch (const RunError &) {
        // Nobody is left to tell, and the user asked to leave: the exit goes on.
    }
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != mainWindow && w->isVisible())
            w->hide();
    desktop().endProcess(0);
}
