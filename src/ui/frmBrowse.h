#pragma once

#include <QDialog>

class DirList;
class DriveList;
class FileList;
class QComboBox;
class QPushButton;

// Picks sprite files for the main window's list. Okay leaves the picked files in Picked
// (the main window adds them after the modal show) and remembers the folder.
class frmBrowse : public QDialog
{
    Q_OBJECT
public:
    explicit frmBrowse(QWidget &parent);

    FileList *File1;
    DirList *Dir1;
    DriveList *Drive1;
    QPushButton *cmdOkay, *cmdCancel;
    QComboBox *cmbFileTypes;
    QStringList Picked;

    void cmdOkay_Click();

private:
    void Form_Load();
};
