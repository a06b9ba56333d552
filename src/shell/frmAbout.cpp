#include "frmAbout.h"

#include "Desktop.h"
#include "LinkLabel.h"
#include "ProgramIcon.h"
#include "WindowLook.h"
#include "modHyperLink.h"
#include "modMain.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStandardPaths>

const QStringList frmAbout::SysInfoPrograms = {
    QStringLiteral("hardinfo"),          QStringLiteral("gnome-system-monitor"),
    QStringLiteral("kinfocenter"),       QStringLiteral("mate-system-monitor"),
    QStringLiteral("xfce4-taskmanager"),
};

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(382, 237);
    setFont(courierFont(9.75));
    centreOnScreen(this, size());

    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(QPixmap::fromImage(programIconImage(48)));
    picIcon->setGeometry(16, 16, 48, 48);
    auto label = [this](const char *name, const QRect &g, const QString &text = {}) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(g);
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return l;
    };
    lblTitle = label("lblTitle", QRect(70, 16, 259, 32));
    QFont title = courierFont(11.25);
    title.setBold(true);
    title.setUnderline(true);
    lblTitle->setFont(title);
    lblVersion = label("lblVersion", QRect(70, 52, 259, 15));
    lblDescription =
        label("lblDescription", QRect(70, 75, 259, 78),
              QStringLiteral("Pelloran, the sprite masker by the Pelloran developers.\n"
                             "Select hundreds of files and let Pelloran run overnight!"));
    Label1 = label("Label1", QRect(8, 168, 259, 30),
                   QStringLiteral("Copyright (C) 2026 the Pelloran developers."));
    lblWebsite = new LinkLabel(WebsiteHost, this);
    lblWebsite->setObjectName(QStringLiteral("lblWebsite"));
    lblWebsite->move(8, 200);
    lblWebsite->resize(lblWebsite->sizeHint());
    lblEmail = new LinkLabel(EmailAddress, this);
    lblEmail->setObjectName(QStringLiteral("lblEmail"));
    lblEmail->move(8, 216);
    lblEmail->resize(lblEmail->sizeHint());

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(283, 175, 84, 23);
    cmdOK->setDefault(true); // Enter; Esc closes the dialog as well
    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setGeometry(284, 205, 83, 23);
    cmdSysInfo->setAutoDefault(false);
    // "System Info..." does not fit its button in a fixed-pitch font.
    for (QPushButton *b : {cmdOK, cmdSysInfo})
        b->setFont(QApplication::font());

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
    connect(lblWebsite, &LinkLabel::clicked, this, [this] { OpenLink(WebsiteUrl, "open", this); });
    connect(lblEmail, &LinkLabel::clicked, this,
            [this] { OpenLink(mailTarget(lblVersion->text()), "open", this); });
    cmdOK->setFocus();
    Form_Load();
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + ProductTitle);
    lblTitle->setText(ProductTitle);
    lblVersion->setText(versionText());
}

void frmAbout::StartSysInfo()
{
    for (const QString &name : SysInfoPrograms) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty() && desktop().startDetached(path, {}))
            return;
    }
    desktop().message(this, QStringLiteral("System Information Is Unavailable At This Time"),
                      Desktop::Buttons::Ok, Desktop::Icon::None, Desktop::Answer::Ok);
}

void frmAbout::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    // The etched separator: a grey line with a white one, two pixels wide, just below it.
    QPainter p(this);
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawLine(6, 163, 377, 163);
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(7, 165, 377, 165);
}
