#pragma once

#include "Desktop.h"

#include <QDialog>
#include <QList>
#include <functional>

// A desktop that answers from a script and remembers what it was asked.
class ScriptedDesktop : public Desktop
{
public:
    struct Message {
        QString text;
        Buttons buttons;
        Icon icon;
        QString checkBox = {};
    };

    ScriptedDesktop() { setDesktop(this); }
    ~ScriptedDesktop() override { setDesktop(nullptr); }

    Answer message(QWidget *, const QString &text, Buttons buttons, Icon icon,
                   Answer defaultButton) override
    {
        messages.append({text, buttons, icon});
        if (onMessage)
            onMessage(text);
        if (!answers.isEmpty())
            return answers.takeFirst();
        return buttons == Buttons::Ok ? Answer::Ok : defaultButton;
    }
    // Answers from `answers` (Yes when it is empty) and ticks the check box when `tick` says.
    Answer question(QWidget *, const QString &text, const QString &checkBox, bool &checked) override
    {
        messages.append({text, Buttons::YesNo, Icon::Question, checkBox});
        if (onMessage)
            onMessage(text);
        if (!checkBox.isEmpty() && !ticks.isEmpty())
            checked = ticks.takeFirst();
        return answers.isEmpty() ? Answer::Yes : answers.takeFirst();
    }
    int exec(QDialog &dialog) override
    {
        return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
    }
    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        started.append(QStringList{program} + arguments);
        return canStart;
    }
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return canStart;
    }
    void playSound(const QString &path) override { sounds.append(path); }
    void beep() override { ++beeps; }
    void alert(QWidget *, int msec) override { alerts.append(msec); }
    void endProcess(int code) override { endedWith.append(code); }

    QList<Answer> answers;
    QList<bool> ticks;
    std::function<int(QDialog &)> onDialog;
    std::function<void(const QString &)> onMessage; // before the answer is given
    bool canStart = true;

    QList<Message> messages;
    QList<QStringList> started;
    QList<QUrl> opened;
    QStringList sounds;
    int beeps = 0;
    QList<int> alerts;
    QList<int> endedWith;
};
