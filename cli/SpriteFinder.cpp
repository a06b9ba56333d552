#include "SpriteFinder.h"

#include "FileOps.h"
#include "Options.h"
#include "RunError.h"
#include "RunUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

namespace
{

const QString notUtf8 = QStringLiteral("the name is not valid UTF-8, so it cannot be opened");

QString baseName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? fileName.left(dot) : fileName;
}

} // namespace

bool namedLikeMask(const QString &fileName, const QString &suffix)
{
    return !suffix.isEmpty() && baseName(fileName).endsWith(suffix);
}

SpriteFinder::SpriteFinder(const Options &options, const QList<QByteArray> &rawArguments)
    : m_recursive(options.recursive), m_null(options.null), m_suffix(options.suffix),
      m_pattern(options.pattern)
{
    for (const QByteArray &raw : rawArguments)
        if (!nameRoundTrips(raw))
            m_lossyArguments.insert(QFile::decodeName(raw), raw);
}

void SpriteFinder::walk(const QByteArray &folder, const QByteArray &subfolder, QList<Input> &found)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        const int error = errno;
        m_refused.append({QFile::decodeName(folder),
                          RunError::fromErrno(error, QFile::decodeName(folder)).description()});
        return;
    }
    QList<QByteArray> subfolders;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray full = folder + '/' + name;
        struct stat st;
        // Links are not followed: a linked folder could lead out of the tree or round it.
        if (::lstat(full.constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (m_recursive)
                subfolders.append(name);
            continue;
        }
        const QString fileName = QFile::decodeName(name);
        // Masks made by an earlier run are not sprites.
        if (!S_ISREG(st.st_mode) || namedLikeMask(fileName, m_suffix) ||
            !matchesPattern(m_pattern, fileName))
            continue;
        if (nameRoundTrips(full))
            found.append({QFile::decodeName(full), QFile::decodeName(subfolder)});
        else
            m_refused.append({printableName(full), notUtf8});
    }
    ::closedir(dir);
    for (const QByteArray &sub : std::as_const(subfolders))
        walk(folder + '/' + sub, subfolder.isEmpty() ? sub : subfolder + '/' + sub, found);
}

void SpriteFinder::addInput(const QString &input, QList<Input> &found)
{
    const QFileInfo info(input);
    if (info.isFile()) {
        found.append({QDir::cleanPath(info.absoluteFilePath()), QString()});
    } else if (info.isDir()) {
        QList<Input> inFolder;
        // "sprites/" names the same folder as "sprites": no "//" in the names reported.
        walk(QFile::encodeName(QDir::cleanPath(info.absoluteFilePath())), QByteArray(), inFolder);
        std::sort(inFolder.begin(), inFolder.end(),
                  [](const Input &a, const Input &b) { return a.sprite < b.sprite; });
        found += inFolder;
    } else {
        m_refused.append({input, QStringLiteral("no such file or folder")});
    }
}

QList<SpriteFinder::Input> SpriteFinder::expand(const QStringList &inputs)
{
    QList<Input> found;
    for (const QString &input : inputs) {
        if (const auto raw = m_lossyArguments.constFind(input); raw != m_lossyArguments.cend())
            m_refused.append({printableName(*raw), notUtf8});
        else
            addInput(input, found);
    }
    return found;
}

bool SpriteFinder::readList(const QString &listName, QStringList &inputs)
{
    QFile list;
    const bool opened = listName == QLatin1String("-")
                            ? list.open(stdin, QIODevice::ReadOnly)
                            : (list.setFileName(listName), list.open(QIODevice::ReadOnly));
    if (!opened)
        return false;
    const QByteArray all = list.readAll();
    for (const QByteArray &raw : all.split(m_null ? '\0' : '\n')) {
        if (raw.isEmpty())
            continue;
        if (!nameRoundTrips(raw))
            m_lossyArguments.insert(QFile::decodeName(raw), raw);
        inputs.append(QFile::decodeName(raw));
    }
    return true;
}
