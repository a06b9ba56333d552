#pragma once

#include <QDialog>
#include <QPushButton>

#include "WindowLook.h"

// The look the file dialogs share: a fixed-size tool window with a close box only, no task
// bar entry, opened in the middle of the screen, buttons in Courier New.
void setToolWindowLook(QDialog *dialog, const QSize &clientSize);
QPushButton *dialogButton(QDialog *dialog, const char *name, const QString &text,
                          const QRect &geometry);

class DirList;
class DriveList;
class FileList;

// The file list, folder list and drive list both file dialogs show in the same places,
// kept in step: a new drive opens that drive (one that cannot be read gives way to the
// drive shown before), a new folder refills the file list.
void addFileLists(QDialog *dialog, FileList *&File1, DirList *&Dir1, DriveList *&Drive1);
