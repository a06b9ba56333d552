#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

class QDialog;
class QWidget;

// Everything the program asks of the desktop that a test must be able to answer or watch:
// modal questions and dialogs, starting other programs, sound and attention signals.
// The program reaches them only through desktop(), so a test installs a scripted stand-in
// with setDesktop() and no test ever waits on a window nobody can see.
class Desktop
{
public:
    enum class Buttons { Ok, YesNo };
    enum class Icon { None, Question, Exclamation };
    enum class Answer { Ok, Yes, No, Cancel };

    virtual ~Desktop() = default;

    // A modal message box titled with the program's name.
    virtual Answer message(QWidget *parent, const QString &text, Buttons buttons, Icon icon,
                           Answer defaultButton) = 0;
    // A question with Yes (the default), No and Cancel (also Escape) and the question icon;
    // with a `checkBox` text, a check box under the question whose state `checked` carries
    // in and out.
    virtual Answer question(QWidget *parent, const QString &text, const QString &checkBox,
                            bool &checked) = 0;
    // Shows a dialog modally and returns its result.
    virtual int exec(QDialog &dialog) = 0;
    // Starts a program without waiting for it and without a shell: every argument reaches
    // it as it stands. False when it cannot be started.
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;
    // Hands a file or a web or mail address to the desktop's handler for it.
    virtual bool openUrl(const QUrl &url) = 0;
    // Plays a sound file without waiting for it; a missing or unreadable file is silent.
    virtual void playSound(const QString &path) = 0;
    virtual void beep() = 0;
    // Draws the user's attention to a window for about msec milliseconds without blocking.
    virtual void alert(QWidget *window, int msec) = 0;
    // Ends the process at once: no handler of any window runs afterwards, also when the
    // end was asked for from inside a yield of a running scan.
    virtual void endProcess(int code) = 0;
};

// The desktop the program talks to: the real one unless a test has installed another.
Desktop &desktop();
// Installs a stand-in (not owned); nullptr restores the real desktop.
void setDesktop(Desktop *stand_in);

// The two messages most calls make: a notice with OK and the exclamation icon, and a
// question with Yes and No (Yes the default) that is true on Yes.
void tell(QWidget *parent, const QString &text);
bool ask(QWidget *parent, const QString &text, Desktop::Icon icon = Desktop::Icon::Question);

extern const QString ProductTitle;
