#include "FileOps.h"

#include "RunError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <utility>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

RunError errnoError(int error, const QString &path)
{
    const QString detail = path + QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(error)) + ')';
    switch (error) {
    case ENOENT:
    case ENOTDIR: return RunError::of(RunError::PathNotFound, detail);
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return RunError::of(RunError::DiskFull, detail);
    default: return RunError::of(RunError::PermissionDenied, detail);
    }
}

} // namespace

WholeFileWriter::WholeFileWriter(const QString &path) : m_path(path)
{
    const QFileInfo info(path);
    if (info.isDir())
        throw RunError::of(RunError::PermissionDenied, path + QStringLiteral(" is a folder"));
    m_dir = QFile::encodeName(info.path());
    m_target = QFile::encodeName(path);
    // A file without a name in the target's folder, given its name once it is complete:
    // nobody sees it half-written, and it costs the folder no more than a plain create.
    static const bool canName = QFileInfo(QStringLiteral("/proc/self/fd")).isDir();
    if (canName) {
        m_fd = ::open(m_dir.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return;
    }
    // File systems without unnamed files: a hidden temporary file, renamed over the target.
    openNamedTemp();
}

void WholeFileWriter::openNamedTemp()
{
    static std::atomic<unsigned> counter{0};
    const QFileInfo info(m_path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temp = m_dir + "/." + QFile::encodeName(info.fileName()) + ".part" +
                 QByteArray::number(qint64(getpid())) + '-' + QByteArray::number(counter++);
        m_fd = ::open(m_temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0 || errno != EEXIST)
            break;
    }
    if (m_fd < 0)
        throw errnoError(errno, m_path);
}

WholeFileWriter::~WholeFileWriter()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        if (!m_temp.isEmpty())
            ::unlink(m_temp.constData());
    }
}

void WholeFileWriter::write(const char *data, qsizetype size)
{
    for (qsizetype done = 0; done < size;) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw errnoError(n < 0 ? errno : ENOSPC, m_path);
        done += n;
    }
}

void WholeFileWriter::commit()
{
    // No flush to the disk is forced per file: a batch of thousands would wait on the disk.
    if (m_temp.isEmpty()) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_target.constData(),
                     AT_SYMLINK_FOLLOW) == 0) {
            ::close(std::exchange(m_fd, -1));
            return;
        }
        if (errno != EEXIST) {
            const int error = errno;
            throw errnoError(error, m_path);
        }
        // Replacing a file: give the data a hidden name, then rename it over the old one,
        // which survives should anything fail before.
        static std::atomic<unsigned> counter{0};
        m_temp = m_dir + "/." + QFile::encodeName(QFileInfo(m_path).fileName()) + ".part" +
                 QByteArray::number(qint64(getpid())) + '-' + QByteArray::number(counter++);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_temp.constData(),
                     AT_SYMLINK_FOLLOW) != 0) {
            const int error = errno;
            m_temp.clear();
            throw errnoError(error, m_path);
        }
    }
    const int fd = std::exchange(m_fd, -1);
    const bool closed = ::close(fd) == 0;
    if (!closed || ::rename(m_temp.constData(), m_target.constData()) != 0) {
        const int error = errno;
        ::unlink(m_temp.constData());
        throw errnoError(error == EISDIR ? EACCES : error, m_path);
    }
}

void writeFileWhole(const QString &path, const QByteArray &data)
{
    WholeFileWriter writer(path);
    writer.write(data.constData(), data.size());
    writer.commit();
}

void copyFileReplacing(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        throw RunError::of(source.exists() ? RunError::PermissionDenied : RunError::FileNotFound,
                           from);
    writeFileWhole(to, source.readAll());
}
