#pragma once

// What every test of the window needs: the window with the widgets it reaches into, a scripted
// desktop, and throw-away folders for its files, the settings store and the debug log's data
// folder, so no test ever touches the user's own.

#include "PictureSurface.h"
#include "ScriptedDesktop.h"
#include "TestFiles.h"
#include "frmMain.h"
#include "modMain.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

struct Sandbox {
    QTemporaryDir files, settings, data;

    Sandbox()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        DebugLog = clsDebug();
        DebugLog.setDataPath(data.path() + QLatin1Char('/'));
    }
    ~Sandbox() { removeTree(files.path()); }
    QString file(const QString &name) const { return files.filePath(name); }
};
