#include "frmMain.h"

#include "FileOps.h"

#include "Desktop.h"
#include "FileLists.h"
#include "MaskRun.h"
#include "PictureIO.h"
#include "PictureSurface.h"
#include "RunError.h"
#include "RunUtils.h"
#include "frmBrowse.h"
#include "frmSave.h"
#include "modMain.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <new>

bool frmMain::cannotLoad(PictureSurface *PicBox, const QString &Filename, const RunError &e)
{
    if (PicBox == picSprite)
        m_spriteLoaded = false;
    DebugLog.Print_(MaskRun::cantLoadEntry(Filename), e);
    return false;
}

bool frmMain::LoadPic(PictureSurface *PicBox, const QString &Filename)
{
    CurrentFile = Filename;
    try {
        // A surface that takes the picture's size can lend its image to the next picture.
        PicBox->setPicture(readPicture(Filename, PictureAlpha::Drop,
                                       PicBox->autoSize() ? &PicBox->image() : nullptr));
        m_spriteLoaded = PicBox == picSprite;
        return true;
    } catch (const RunError &e) {
        return cannotLoad(PicBox, Filename, e);
    } catch (const std::bad_alloc &) {
        // A sprite too large for the memory left is one more file that cannot be loaded.
        return cannotLoad(PicBox, Filename, RunError::of(RunError::OutOfMemory, Filename));
    }
}

QString frmMain::ShowSave()
{
    frmSave dialog(this);
    desktop().exec(dialog);
    return dialog.SavePath;
}

void frmMain::SaveAs(const QImage &pic)
{
    const QString name = ShowSave();
    if (name.isEmpty())
        return;
    // Anything under that name, hidden files and links that lead nowhere included, is asked
    // about before it is lost.
    if (entryExists(name) && !ask(this, QStringLiteral("The file '") + name +
                                            QStringLiteral("' already exists! Overwrite?")))
        return;
    try {
        writeBmp(pic, name);
    } catch (const RunError &e) {
        tell(this, QStringLiteral("Can't save '") + name + QStringLiteral("': ") + e.description());
    }
}

void frmMain::mnuSaveSprite_Click()
{
    if (!m_running)
        SaveAs(picSprite->image());
}

void frmMain::mnuSaveMask_Click()
{
    if (!m_running)
        SaveAs(picMask->image());
}

void frmMain::Browse(qint16 Mode)
{
    if (m_running)
        return;
    BrowseMode = Mode;
    frmBrowse dialog(*this);
    desktop().exec(dialog);
    if (dialog.result() == QDialog::Accepted)
        filesAdded(dialog.Picked, BrowseMode == 1);
}

void frmMain::cmdSelFiles_Click()
{
    Browse(1);
}

void frmMain::cmdAppendFiles_Click()
{
    Browse(2);
}

void frmMain::filesAdded(const QStringList &paths, bool replace)
{
    addFiles(paths, replace);
    if (lstFiles->count() >= 1)
        LoadPic(picSprite, lstFiles->itemText(0));
    cmdClearList->setEnabled(true);
    cmdAppendFiles->setEnabled(true);
    mnuSaveSprite->setEnabled(true);
}

void frmMain::openFiles(const QStringList &paths)
{
    const QStringList files = listedFiles(paths, false);
    if (!files.isEmpty())
        filesAdded(files, false);
}

void frmMain::addFiles(const QStringList &paths, bool replace)
{
    const int current = replace ? -1 : lstFiles->currentIndex();
    if (replace)
        lstFiles->clear();
    // One insertion for the lot: lists of many thousands of sprites stay quick.
    lstFiles->addItems(paths);
    lstFiles->setCurrentIndex(current);
}

void frmMain::cmdClearList_Click()
{
    if (m_running || lstFiles->count() == 0)
        return;
    if (!ask(this, QStringLiteral("Are you sure you want to clear the file list?")))
        return;
    lstFiles->clear();
    cmdAppendFiles->setEnabled(false);
    cmdClearList->setEnabled(false);
}

void frmMain::lstFiles_Click(int index)
{
    if (index >= 0 && !m_running)
        LoadPic(picSprite, lstFiles->itemText(index));
}

QStringList frmMain::droppedFiles(const QList<QUrl> &urls, bool everyPicture) const
{
    QStringList paths;
    for (const QUrl &url : urls)
        paths.append(url.toLocalFile());
    return listedFiles(paths, everyPicture);
}

QStringList frmMain::listedFiles(const QStringList &paths, bool everyPicture) const
{
    const QString pattern = everyPicture ? pictureFilePattern() : QStringLiteral("*.bmp");
    // Masks of an earlier run lie among the sprites; listed, Mask All would mask them again.
    const QString suffix = txtSuffix->text();
    QStringList files;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isFile()) {
            files.append(info.absoluteFilePath());
        } else if (info.isDir()) {
            // The browse dialog's own listing: same order, same filter.
            const QDir dir(info.absoluteFilePath());
            for (const QString &name : FileList::namesIn(dir.path(), pattern))
                if (!namedLikeMask(name, suffix))
                    files.append(dir.filePath(name));
        }
    }
    return files;
}

void frmMain::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!m_running && !urls.isEmpty() &&
        std::all_of(urls.cbegin(), urls.cend(), [](const QUrl &u) { return u.isLocalFile(); }))
        event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent *event)
{
    if (m_running)
        return;
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    event->acceptProposedAction();
    filesAdded(droppedFiles(event->mimeData()->urls(), shift), false);
}
