#include "FileLists.h"

#include "RunUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

DriveList::DriveList(QWidget *parent) : QComboBox(parent)
{
    QStringList roots;
    for (const QStorageInfo &v : QStorageInfo::mountedVolumes())
        if (v.isValid() && v.isReady() && v.bytesTotal() > 0)
            roots.append(v.rootPath());
    roots.removeAll(QStringLiteral("/"));
    roots.removeDuplicates();
    roots.sort();
    roots.prepend(QStringLiteral("/"));
    addItems(roots);
    connect(this, &QComboBox::activated, this, [this] { emit driveChanged(drive()); });
}

QString DriveList::driveOf(const QString &path)
{
    const QString root = QStorageInfo(path).rootPath();
    return root.isEmpty() ? QStringLiteral("/") : root;
}

void DriveList::setDriveOf(const QString &path)
{
    const QString root = driveOf(path);
    int i = findText(root);
    if (i < 0) {
        addItem(root);
        i = count() - 1;
    }
    setCurrentIndex(i);
}

DirList::DirList(QWidget *parent) : QListWidget(parent)
{
    connect(this, &QListWidget::itemActivated, this, &DirList::open);
}

bool DirList::setPath(const QString &path)
{
    const QDir dir(path);
    if (!dir.exists() || !dir.isReadable())
        return false;
    const QString clean = QDir::cleanPath(dir.absolutePath());
    QStringList subfolders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

    clear();
    // The chain of folders from the root down to this one, indented like a tree.
    QStringList chain;
    for (QDir up(clean);;) {
        chain.prepend(up.absolutePath());
        if (!up.cdUp())
            break;
    }
    int depth = 0;
    for (const QString &p : std::as_const(chain)) {
        const QString name = p == QLatin1String("/") ? p : QFileInfo(p).fileName();
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(Qt::UserRole, p);
        ++depth;
    }
    setCurrentRow(count() - 1);
    for (const QString &sub : std::as_const(subfolders)) {
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + sub, this);
        item->setData(Qt::UserRole, QDir(clean).filePath(sub));
    }
    const bool changed = clean != m_path;
    m_path = clean;
    if (changed)
        emit pathChanged(m_path);
    return true;
}

void DirList::open(QListWidgetItem *item)
{
    if (item)
        setPath(item->data(Qt::UserRole).toString());
}

FileList::FileList(QWidget *parent) : QListWidget(parent) {}

void FileList::setPath(const QString &path)
{
    m_path = path;
    refresh();
}

void FileList::setPattern(const QString &pattern)
{
    m_pattern = pattern;
    refresh();
}

void FileList::refresh()
{
    clear();
    if (!m_path.isEmpty())
        addItems(namesIn(m_path, m_pattern));
}

QStringList FileList::namesIn(const QString &folder, const QString &pattern)
{
    QStringList names;
    // Without QDir::Hidden, names that start with a dot are left out.
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
        if (matchesPattern(pattern, f.fileName()))
            names.append(f.fileName());
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    return names;
}
