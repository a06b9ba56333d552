#include "frmSave.h"

#include "DialogLook.h"
#include "FileLists.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QLineEdit>
#include <QTimer>

frmSave::frmSave(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSave"));
    setWindowTitle(QStringLiteral("Save..."));
    setToolWindowLook(this, QSize(433, 313));

    addFileLists(this, File1, Dir1, Drive1);
    txtFilename = new QLineEdit(QStringLiteral("Unnamed.bmp"), this);
    txtFilename->setObjectName(QStringLiteral("txtFilename"));
    txtFilename->setGeometry(8, 264, 353, 19);
    cmbExtension = new QComboBox(this);
    cmbExtension->setObjectName(QStringLiteral("cmbExtension"));
    cmbExtension->setGeometry(368, 264, 57, 21);
    cmbExtension->setEditable(true);
    cmbExtension->setInsertPolicy(QComboBox::NoInsert);
    cmbExtension->addItems({QStringLiteral(".bmp"), QStringLiteral(".jpg"), QStringLiteral(".gif"),
                            QStringLiteral("(none)")});
    cmdOkay = dialogButton(this, "cmdOkay", QStringLiteral("Okay"), QRect(88, 288, 121, 17));
    cmdOkay->setDefault(true);
    cmdCancel = dialogButton(this, "cmdCancel", QStringLiteral("Cancel"), QRect(216, 288, 121, 17));

    chainTabs({txtFilename, cmbExtension, cmdOkay, cmdCancel, File1, Dir1, Drive1});
    selectAllOnFocus(txtFilename);

    connect(File1, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { txtFilename->setText(item->text()); });
    connect(cmdOkay, &QPushButton::clicked, this, &frmSave::cmdOkay_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSave::cmdCancel_Click);

    // Each opening starts in the process's current folder.
    const QString start = QDir::currentPath();
    Drive1->setDriveOf(start);
    Dir1->setPath(start);
    txtFilename->setFocus();
    txtFilename->selectAll();
}

QString frmSave::completeName(const QString &name, const QString &extension)
{
    if (name.contains(QLatin1Char('"'))) {
        QString literal = name;
        return literal.remove(QLatin1Char('"'));
    }
    if (!name.contains(extension) && extension.trimmed().toLower() != QLatin1String("(none)"))
        return name + extension;
    return name;
}

QString frmSave::joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

void frmSave::cmdOkay_Click()
{
    txtFilename->setText(completeName(txtFilename->text(), cmbExtension->currentText()));
    SavePath = joinPath(File1->path(), txtFilename->text());
    accept();
}

void frmSave::cmdCancel_Click()
{
    SavePath.clear();
    reject();
}
