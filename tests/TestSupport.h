#pragma once

// Throw-away folders for one test of the window: its files, the settings store and the debug
// log's data folder, so no test ever touches the user's own.

#include "TestFiles.h"
#include "modMain.h"

#include <QSettings>
#include <QTemporaryDir>

struct Sandbox {
    QTemporaryDir files, settings, data;

    Sandbox()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        DebugLog = clsDebug();
        DebugLog.setDataPath(data.path() + QLatin1Char('/'));
    }
    QString file(const QString &name) const { return files.filePath(name); }
};
