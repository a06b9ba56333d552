#pragma once

// Files the tests make for themselves and read back; nothing of the window.

#include <QFile>

#include <cstdio>
#include <ftw.h>

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Empty when there is no such file.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Removes a folder and everything in it by the names the file system has: QDir cannot
// remove entries whose names are not UTF-8, and would leave such a folder behind.
inline void removeTree(const QString &path)
{
    ::nftw(
        QFile::encodeName(path).constData(),
        [](const char *name, const struct stat *, int, struct FTW *) { return ::remove(name); }, 16,
        FTW_DEPTH | FTW_PHYS);
}
