#pragma once

#include <QComboBox>
#include <QListWidget>

// The three lists the file dialogs are made of: drives, the folders of a path, and the
// files of a folder that match a pattern. A dialog keeps them in step through their
// change signals.

// The mounted volumes that can be read, "/" first.
class DriveList : public QComboBox
{
    Q_OBJECT
public:
    explicit DriveList(QWidget *parent = nullptr);

    QString drive() const { return currentText(); }
    // Selects the volume that holds `path` (the longest mount point above it).
    void setDriveOf(const QString &path);
    static QString driveOf(const QString &path);

signals:
    // The user picked another drive.
    void driveChanged(const QString &drive);
};

// The folders above the current one, the current one, and its sub-folders. A double click
// (or Enter) opens an entry; only then does the path change.
class DirList : public QListWidget
{
    Q_OBJECT
public:
    explicit DirList(QWidget *parent = nullptr);

    const QString &path() const { return m_path; }
    // False, and nothing changes, when the folder cannot be listed.
    bool setPath(const QString &path);

signals:
    void pathChanged(const QString &path);

private:
    void open(QListWidgetItem *item);
    QString m_path;
};

// The regular, non-hidden files of a folder whose names match the pattern, sorted by name.
class FileList : public QListWidget
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent = nullptr);

    const QString &path() const { return m_path; }
    void setPath(const QString &path);
    const QString &pattern() const { return m_pattern; }
    void setPattern(const QString &pattern);
    // Reads the folder again.
    void refresh();
    // The names the list shows for a folder and a pattern, in its order.
    static QStringList namesIn(const QString &folder, const QString &pattern);

private:
    QString m_path;
    QString m_pattern = QStringLiteral("*.*");
};
