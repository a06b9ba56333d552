#pragma once

#include <QDialog>

class DirList;
class DriveList;
class FileList;
class QComboBox;
class QPushButton;
class frmMain;

// Picks sprite files for the main window's list: Okay replaces the list (BrowseMode 1) or
// adds to it (any other mode), shows the first entry and remembers the folder.
class frmBrowse : public QDialog
{
    Q_OBJECT
public:
    explicit frmBrowse(frmMain &main);

    FileList *File1;
    DirList *Dir1;
    DriveList *Drive1;
    QPushButton *cmdOkay, *cmdCancel;
    QComboBox *cmbFileTypes;

    void cmdOkay_Click();

private:
    void Form_Load();

    frmMain &m_main;
};
