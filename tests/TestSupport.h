#pragma once

// Files and folders the tests make for themselves.

#include "modMain.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Empty when there is no such file.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Throw-away folders for one test: its files, the settings store and the debug log's data
// folder, so no test ever touches the user's own.
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
