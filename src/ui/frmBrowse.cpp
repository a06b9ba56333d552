#include "frmBrowse.h"

#include "Desktop.h"
#include "DialogLook.h"
#include "FileLists.h"
#include "Settings.h"
#include "modMain.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

frmBrowse::frmBrowse(QWidget &parent) : QDialog(&parent)
{
    setObjectName(QStringLiteral("frmBrowse"));
    setToolWindowLook(this, QSize(433, 313));

    addFileLists(this, File1, Dir1, Drive1);
    File1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    cmdOkay = dialogButton(this, "cmdOkay", QStringLiteral("Okay"), QRect(88, 288, 121, 17));
    cmdOkay->setDefault(true);
    cmdCancel = dialogButton(this, "cmdCancel", QStringLiteral("Cancel"), QRect(216, 288, 121, 17));
    cmbFileTypes = new QComboBox(this);
    cmbFileTypes->setObjectName(QStringLiteral("cmbFileTypes"));
    cmbFileTypes->setGeometry(8, 264, 417, 21);
    cmbFileTypes->setEditable(true);
    cmbFileTypes->setInsertPolicy(QComboBox::NoInsert);
    cmbFileTypes->addItems({QStringLiteral("*.bmp"), QStringLiteral("*.*")});
    cmbFileTypes->setEditText(QStringLiteral("*.bmp"));

    chainTabs({File1, Dir1, Drive1, cmdOkay, cmdCancel, cmbFileTypes});

    connect(cmbFileTypes, &QComboBox::editTextChanged, File1, &FileList::setPattern);
    connect(cmdOkay, &QPushButton::clicked, this, &frmBrowse::cmdOkay_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    Form_Load();
}

void frmBrowse::Form_Load()
{
    setWindowTitle(ProductTitle + QStringLiteral(" - Browse"));
    // The first time, and when the stored folder has gone, the user's own folder: the
    // program's folder holds no sprites and may be read-only.
    QString last = GetSetting(QStringLiteral("sys"), QStringLiteral("lastpath"), QDir::homePath());
    if (!QDir(last).exists())
        last = QDir::homePath();
    Drive1->setDriveOf(last);
    if (!Dir1->setPath(last))
        Dir1->setPath(QDir::rootPath());
    File1->setPattern(cmbFileTypes->currentText());
}

void frmBrowse::cmdOkay_Click()
{
    Picked.clear();
    for (int i = 0; i < File1->count(); ++i)
        if (File1->item(i)->isSelected())
            Picked.append(QDir(File1->path()).filePath(File1->item(i)->text()));
    SaveSetting(QStringLiteral("sys"), QStringLiteral("lastpath"), Dir1->path());
    accept();
}
