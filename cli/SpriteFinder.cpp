#include "SpriteFinder.h"

#include "FileOps.h"
#include "Options.h"
#include "RunError.h"
#include "RunUtils.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Why a name that lstat() finds cannot be followed: a link to nothing, or the system's reason.
QString brokenLink(int error, const QString &name)
{
    return error == ENOENT
               ? RunError::of(RunError::FileNotFound, QStringLiteral("a link to nothing"))
                     .description()
               : RunError::fromErrno(error, name).description();
}

} // namespace

SpriteFinder::SpriteFinder(const Options &options)
    : m_recursive(options.recursive), m_null(options.null), m_suffix(options.suffix),
      m_pattern(options.pattern), m_outputDir(options.outputDir)
{
    struct stat st;
    if (!m_outputDir.isEmpty() && ::stat(fileNameToBytes(m_outputDir).constData(), &st) == 0) {
        m_outputExists = true;
        m_outputDevice = st.st_dev;
        m_outputInode = st.st_ino;
    }
}

bool SpriteFinder::takes(const QString &fileName) const
{
    // Masks made by an earlier run are not sprites. The pattern sees bytes that are not
    // UTF-8 as U+FFFD: a wildcard matches either the same way, and the matcher wants text.
    QString text = fileName;
    for (QChar &c : text)
        if (c.isSurrogate() && c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            c = QChar::ReplacementCharacter;
    return !namedLikeMask(fileName, m_suffix) && matchesPattern(m_pattern, text);
}

void SpriteFinder::walk(const QByteArray &folder, const QByteArray &subfolder, QList<Input> &found)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        const int error = errno;
        m_refused.append({fileNameFromBytes(folder),
                          RunError::fromErrno(error, fileNameFromBytes(folder)).description()});
        return;
    }
    QList<QByteArray> subfolders;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray full = folder + '/' + name;
        const QString fileName = fileNameFromBytes(name);
        struct stat st;
        if (::lstat(full.constData(), &st) != 0)
            continue;
        // A linked file is a sprite like any other; a linked folder is not entered, since
        // it could lead out of the tree or round it.
        if (S_ISLNK(st.st_mode)) {
            if (::stat(full.constData(), &st) != 0) {
                const int error = errno;
                if (takes(fileName))
                    m_refused.append(
                        {fileNameFromBytes(full), brokenLink(error, fileNameFromBytes(full))});
                continue;
            }
            if (S_ISDIR(st.st_mode))
                continue;
        } else if (S_ISDIR(st.st_mode)) {
            const bool output =
                m_outputExists && st.st_dev == m_outputDevice && st.st_ino == m_outputInode;
            if (m_recursive && !output)
                subfolders.append(name);
            continue;
        }
        if (S_ISREG(st.st_mode) && takes(fileName))
            found.append({fileNameFromBytes(full), fileNameFromBytes(subfolder)});
    }
    ::closedir(dir);
    for (const QByteArray &sub : std::as_const(subfolders))
        walk(folder + '/' + sub, subfolder.isEmpty() ? sub : subfolder + '/' + sub, found);
}

void SpriteFinder::addInput(const QString &input, QList<Input> &found)
{
    // Qt's file functions would take the name's text for its bytes: only the path's text
    // is worked on here, and the file system is asked by the name's own bytes.
    const QString path = QDir::cleanPath(
        QDir::isAbsolutePath(input) ? input : QDir::currentPath() + QLatin1Char('/') + input);
    const QByteArray raw = fileNameToBytes(path);
    struct stat st;
    if (::stat(raw.constData(), &st) != 0) {
        const int error = errno;
        struct stat link;
        if (::lstat(raw.constData(), &link) == 0)
            m_refused.append({input, brokenLink(error, input)});
        else if (error == ENOENT || error == ENOTDIR)
            m_refused.append({input, RunError::of(RunError::FileNotFound).description()});
        else
            m_refused.append({input, RunError::fromErrno(error, input).description()});
    } else if (S_ISREG(st.st_mode)) {
        found.append({path, QString()});
    } else if (S_ISDIR(st.st_mode)) {
        QList<Input> inFolder;
        const qsizetype refused = m_refused.size();
        walk(raw, QByteArray(), inFolder);
        if (inFolder.isEmpty() && m_refused.size() == refused)
            m_emptyFolders.append(input);
        std::sort(inFolder.begin(), inFolder.end(),
                  [](const Input &a, const Input &b) { return a.sprite < b.sprite; });
        found += inFolder;
    } else {
        // A FIFO or a device: never waited on, never read.
        m_refused.append({input, RunError::of(RunError::NotARegularFile).description()});
    }
}

QList<SpriteFinder::Input> SpriteFinder::expand(const QStringList &inputs)
{
    QList<Input> found;
    for (const QString &input : inputs)
        addInput(input, found);
    return found;
}

std::optional<SpriteFinder::Input> SpriteFinder::locate(const QStringList &inputs,
                                                        const QString &path) const
{
    struct stat st;
    if (::stat(fileNameToBytes(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    for (const QString &input : inputs) {
        const QString in = QDir::cleanPath(
            QDir::isAbsolutePath(input) ? input : QDir::currentPath() + QLatin1Char('/') + input);
        if (in == path)
            return Input{path, QString()};
        if (!path.startsWith(in + QLatin1Char('/')) ||
            !takes(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1)))
            continue;
        const QString rel = path.mid(in.size() + 1);
        const QString sub = rel.left(std::max<qsizetype>(rel.lastIndexOf(QLatin1Char('/')), 0));
        if (!sub.isEmpty() && !m_recursive)
            continue;
        // Every folder on the way as walk() enters them: no link, not the output folder.
        bool walked = ::stat(fileNameToBytes(in).constData(), &st) == 0 && S_ISDIR(st.st_mode);
        QString folder = in;
        for (const QString &part : sub.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            folder += QLatin1Char('/') + part;
            walked = walked && ::lstat(fileNameToBytes(folder).constData(), &st) == 0 &&
                     S_ISDIR(st.st_mode) &&
                     !(m_outputExists && st.st_dev == m_outputDevice && st.st_ino == m_outputInode);
        }
        if (walked)
            return Input{path, sub};
    }
    return std::nullopt;
}

QString SpriteFinder::readList(const QString &listName, QStringList &inputs)
{
    const bool standardInput = listName == QLatin1String("-");
    const int fd = standardInput
                       ? STDIN_FILENO
                       : ::open(fileNameToBytes(listName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    // Read by hand rather than by QFile: a folder named as the list opens, and only its read
    // says why it gives no names.
    QByteArray all;
    int error = 0;
    for (char chunk[1 << 16];;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        all.append(chunk, n);
    }
    if (!standardInput)
        ::close(fd);
    if (error)
        return QString::fromLocal8Bit(std::strerror(error));
    for (const QByteArray &raw : all.split(m_null ? '\0' : '\n'))
        if (!raw.isEmpty())
            inputs.append(fileNameFromBytes(raw));
    return {};
}
