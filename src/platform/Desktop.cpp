#include "Desktop.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSoundEffect>

#include <cstdio>
#include <cstdlib>

const QString ProductTitle = QStringLiteral("Pelloran");

namespace
{

class SystemDesktop final : public Desktop
{
public:
    Answer message(QWidget *parent, const QString &text, Buttons buttons, Icon icon,
                   Answer defaultButton) override
    {
        QMessageBox box(parent);
        box.setWindowTitle(ProductTitle);
        box.setText(text);
        switch (icon) {
        case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
        case Icon::Question: box.setIcon(QMessageBox::Question); break;
        case Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
        }
        if (buttons == Buttons::Ok) {
            box.setStandardButtons(QMessageBox::Ok);
            box.exec();
            return Answer::Ok;
        }
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(defaultButton == Answer::No ? QMessageBox::No : QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }

    Answer question(QWidget *parent, const QString &text, const QString &checkBox,
                    bool &checked) override
    {
        QMessageBox box(QMessageBox::Question, ProductTitle, text,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        QCheckBox *same = nullptr;
        if (!checkBox.isEmpty()) {
            same = new QCheckBox(checkBox);
            same->setChecked(checked);
            box.setCheckBox(same); // the box owns it
        }
        const int answer = box.exec();
        if (same)
            checked = same->isChecked();
        return answer == QMessageBox::Yes  ? Answer::Yes
               : answer == QMessageBox::No ? Answer::No
                                           : Answer::Cancel;
    }

    int exec(QDialog &dialog) override { return dialog.exec(); }

    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        return QProcess::startDetached(program, arguments);
    }

    bool openUrl(const QUrl &url) override { return QDesktopServices::openUrl(url); }

    void playSound(const QString &path) override
    {
        if (!QFileInfo(path).isFile())
            return;
        // One effect at a time; it must outlive the call to go on playing.
        if (!m_effect)
            m_effect = std::make_unique<QSoundEffect>();
        m_effect->stop();
        m_effect->setSource(QUrl::fromLocalFile(path));
        m_effect->play();
    }

    void beep() override { QApplication::beep(); }

    void alert(QWidget *window, int msec) override { QApplication::alert(window, msec); }

    void endProcess(int code) override
    {
        std::fflush(nullptr);
        std::_Exit(code);
    }

private:
    std::unique_ptr<QSoundEffect> m_effect;
};

Desktop *g_standIn = nullptr;

} // namespace

Desktop &desktop()
{
    if (g_standIn)
        return *g_standIn;
    static SystemDesktop real;
    return real;
}

void setDesktop(Desktop *stand_in)
{
    g_standIn = stand_in;
}

void tell(QWidget *parent, const QString &text)
{
    desktop().message(parent, text, Desktop::Buttons::Ok, Desktop::Icon::Exclamation,
                      Desktop::Answer::Ok);
}

bool ask(QWidget *parent, const QString &text, Desktop::Icon icon)
{
    return desktop().message(parent, text, Desktop::Buttons::YesNo, icon, Desktop::Answer::Yes) ==
           Desktop::Answer::Yes;
}
