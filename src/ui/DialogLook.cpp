#include "DialogLook.h"

#include "FileLists.h"

void setToolWindowLook(QDialog *dialog, const QSize &clientSize)
{
    dialog->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    dialog->setFixedSize(clientSize);
    centreOnScreen(dialog, clientSize);
}

QPushButton *dialogButton(QDialog *dialog, const char *name, const QString &text,
                          const QRect &geometry)
{
    auto *b = new QPushButton(text, dialog);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    b->setFont(courierFont(9.75));
    return b;
}

void addFileLists(QDialog *dialog, FileList *&File1, DirList *&Dir1, DriveList *&Drive1)
{
    File1 = new FileList(dialog);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setGeometry(8, 8, 201, 253);
    Dir1 = new DirList(dialog);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(208, 8, 217, 231);
    Drive1 = new DriveList(dialog);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(208, 240, 217, 21);
    QObject::connect(Drive1, &DriveList::driveChanged, Dir1, [Dir1, Drive1](const QString &drive) {
        if (!Dir1->setPath(drive))
            Drive1->setDriveOf(Dir1->path());
    });
    QObject::connect(Dir1, &DirList::pathChanged, File1, &FileList::setPath);
}
