#pragma once

#include <QDialog>

class LinkLabel;
class QLabel;
class QPushButton;

// Title, version, what the program is for, the rights notice, the two links, and a way to
// the desktop's system-information program.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);

    // The system-information programs looked for on PATH, in this order.
    static const QStringList SysInfoPrograms;
    void StartSysInfo();

    QLabel *picIcon, *lblTitle, *lblVersion, *lblDescription, *Label1;
    LinkLabel *lblWebsite, *lblEmail;
    QPushButton *cmdOK, *cmdSysInfo;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void Form_Load();
};
