#pragma once

#include "Version.h"
#include "clsDebug.h"

#include <QString>

class QWidget;

// Program-wide state: the one debug log and the two folders every file access is built on.
// They live as long as the process.
extern clsDebug DebugLog;
// AppPath: the folder of the program's own files, with a trailing "/": the executable's
// folder in a build, share/pelloran/ when installed (see programFilesPath()).
// DataPath: where the log is written: AppPath + "data/" when that folder exists and is
// writable, otherwise $XDG_DATA_HOME/Pelloran/data/.
extern QString AppPath;
extern QString DataPath;

void SetPaths();

// Splits a colour into red, green and blue. Values above 0xFFFFFF give 255 for every
// component; for a negative colour the components are left as they were.
void ColorToRGB(qint16 &red, qint16 &green, qint16 &blue, qint32 colour);

// Asks whether to exit. No: returns false. Yes: logs, stores the suffix and the overwrite
// option under "sys", writes the log (a log that cannot be written does not stop the
// exit), closes every other window and ends the process.
bool QuitApp(QWidget *mainWindow, const QString &suffix, bool promptOverwrite);
// The part of QuitApp after the user said Yes; also how the program ends when it is told
// to without a question (the session ending, a termination signal).
void Terminate(QWidget *mainWindow, const QString &suffix, bool promptOverwrite);
