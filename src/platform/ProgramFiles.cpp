#include "ProgramFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString programFilesPath()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    // Found relative to the executable, not at the configured prefix, so that an
    // installation that was moved, or a DESTDIR staging tree, still finds its files.
    const QString installed = QDir::cleanPath(exeDir + QStringLiteral("/" PELLORAN_DATA_FROM_BIN));
    QString dir = QFileInfo(installed).isDir() ? installed : exeDir;
    // At the root the folder already ends in "/".
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}
