#pragma once

// What every test of the window needs: the window and a way to its controls, a scripted
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

#include <functional>

// One of the window's controls (widget, menu or menu item) by its objectName. A control that
// is missing ends the test run with its name: no test can go on without it.
template <typename T = QWidget> T *control(const QObject &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// Calls onPaint with the widget it watches each time that widget is painted.
struct PaintWatch : QObject {
    std::function<void(QWidget *)> onPaint;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            onPaint(static_cast<QWidget *>(o));
        return false;
    }
};

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
