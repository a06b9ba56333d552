#pragma once

#include <QDialog>

class DirList;
class DriveList;
class FileList;
class QComboBox;
class QLineEdit;
class QPushButton;

// Chooses the full path of a picture about to be saved: a folder, a name, and an extension
// added unless the name already contains it. It neither checks nor writes the file.
class frmSave : public QDialog
{
    Q_OBJECT
public:
    explicit frmSave(QWidget *parent = nullptr);

    // The path chosen with Okay; "" after Cancel, Esc or the close box.
    QString SavePath;

    // The name as Okay completes it: double quotes taken out (and then nothing added), or
    // the extension added unless the name contains it or it says "(none)".
    static QString completeName(const QString &name, const QString &extension);
    // The folder and the name joined with one separator.
    static QString joinPath(const QString &folder, const QString &name);

    FileList *File1;
    DirList *Dir1;
    DriveList *Drive1;
    QLineEdit *txtFilename;
    QComboBox *cmbExtension;
    QPushButton *cmdOkay, *cmdCancel;

    void cmdOkay_Click();
    void cmdCancel_Click();
};
