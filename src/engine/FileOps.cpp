#include "FileOps.h"

#include "RunError.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

// PELLORAN_NO_TMPFILE (any value) makes every write take the hidden part file, as on a
// file system without O_TMPFILE: a diagnostic switch, read once.
bool canNameUnnamedFiles()
{
    static const bool can = qEnvironmentVariableIsEmpty("PELLORAN_NO_TMPFILE") &&
                            QFileInfo(QStringLiteral("/proc/self/fd")).isDir();
    return can;
}

// The new file takes the old one's owner and group where the user may give them (root
// any, others a group they are in; a refusal leaves the file the user's, which is no
// loss). Setuid, setgid and sticky bits are never carried: they were given to the old
// file, not to a mask written by whoever runs this.
void takeOwnerAndMode(int fd, const struct stat &old)
{
    if (::geteuid() == 0)
        (void)::fchown(fd, old.st_uid, old.st_gid);
    else
        (void)::fchown(fd, uid_t(-1), old.st_gid);
    ::fchmod(fd, old.st_mode & 0777);
}

// Root may write any file, so for root "read-only" means no write bit at all.
bool userMayWrite(const QByteArray &target, const struct stat &st)
{
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
        return false;
    return ::geteuid() != 0 || (st.st_mode & 0222) != 0;
}

} // namespace

WholeFileWriter::WholeFileWriter(const QString &path, Existing existing)
    : m_path(path), m_existing(existing)
{
    m_dir = fileNameToBytes(QFileInfo(path).path());
    m_target = fileNameToBytes(path);
    // A file without a name in the target's folder, given its name once it is complete:
    // nobody sees it half-written, and it costs the folder no more than a plain create.
    if (canNameUnnamedFiles()) {
        m_fd = ::open(m_dir.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return;
    }
    // File systems without unnamed files: a hidden temporary file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temp = hiddenName();
        m_fd = ::open(m_temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0 || errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        const int error = errno;
        m_temp.clear();
        throw RunError::fromErrno(error, m_path);
    }
}

QByteArray partFileOwner()
{
    // The machine as well as the process: on a folder shared between machines, a run can
    // only tell whether a process of its own machine is still alive.
    static const QByteArray owner = [] {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0 || !host[0])
            std::strcpy(host, "localhost");
        return QByteArray::number(qint64(getpid())) + '@' + QByteArray(host);
    }();
    return owner;
}

QByteArray WholeFileWriter::hiddenName() const
{
    static std::atomic<unsigned> counter{0};
    return m_dir + "/." + fileNameToBytes(QFileInfo(m_path).fileName()) + ".part" +
           QByteArray::number(counter++) + '-' + partFileOwner();
}

WholeFileWriter::WholeFileWriter(int intoFd, const QString &name)
    : m_path(name), m_existing(Existing::Replace), m_fd(intoFd), m_borrowed(true)
{
}

WholeFileWriter::~WholeFileWriter()
{
    if (m_fd >= 0 && !m_borrowed)
        ::close(m_fd);
    if (!m_temp.isEmpty())
        ::unlink(m_temp.constData());
}

void WholeFileWriter::write(const char *data, qsizetype size)
{
    for (qsizetype done = 0; done < size;) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw RunError::fromErrno(n < 0 ? errno : ENOSPC, m_path);
        done += n;
    }
}

void WholeFileWriter::writeAt(qint64 position, const char *data, qsizetype size)
{
    for (qsizetype done = 0; done < size;) {
        const ssize_t n = ::pwrite(m_fd, data + done, size_t(size - done), off_t(position + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw RunError::fromErrno(n < 0 ? errno : ENOSPC, m_path);
        done += n;
    }
}

void WholeFileWriter::commit()
{
    if (m_borrowed)
        return;
    // No flush to the disk is forced per file: a batch of thousands would wait on the disk.
    const QByteArray self =
        m_temp.isEmpty() ? "/proc/self/fd/" + QByteArray::number(m_fd) : QByteArray();
    if (m_existing == Existing::Keep)
        linkInPlace(self);
    else
        replaceInPlace(self);
}

// link() fails when the name is taken, whatever takes it: this is the exclusive create.
void WholeFileWriter::linkInPlace(const QByteArray &self)
{
    const int linked = self.isEmpty() ? ::link(m_temp.constData(), m_target.constData())
                                      : ::linkat(AT_FDCWD, self.constData(), AT_FDCWD,
                                                 m_target.constData(), AT_SYMLINK_FOLLOW);
    const int error = errno;
    if (linked != 0)
        throw RunError::fromErrno(error, m_path);
    if (::close(std::exchange(m_fd, -1)) != 0) {
        const int closeError = errno;
        ::unlink(m_target.constData());
        throw RunError::fromErrno(closeError, m_path);
    }
}

void WholeFileWriter::replaceInPlace(const QByteArray &self)
{
    struct stat st;
    if (::lstat(m_target.constData(), &st) != 0) {
        if (errno != ENOENT)
            throw RunError::fromErrno(errno, m_path);
        try {
            linkInPlace(self);
            return;
        } catch (const RunError &e) {
            if (e.number() != RunError::FileAlreadyExists)
                throw;
            // Someone took the name meanwhile: replace it like any other file, below.
            if (::lstat(m_target.constData(), &st) != 0)
                throw RunError::fromErrno(errno, m_path);
        }
    }
    if (S_ISREG(st.st_mode)) {
        if (!userMayWrite(m_target, st))
            throw RunError::of(RunError::PermissionDenied,
                               m_path + QStringLiteral(" is read-only"));
        takeOwnerAndMode(m_fd, st);
    } else if (!S_ISLNK(st.st_mode)) {
        throw RunError::of(RunError::NotARegularFile,
                           m_path + (S_ISDIR(st.st_mode)
                                         ? QStringLiteral(" is a folder")
                                         : QStringLiteral(" is not a regular file")));
    }
    // The data gets a hidden name first and is then renamed over the old entry, which
    // survives should anything fail before. A link is replaced, never followed. The hidden
    // name lives for two system calls; should the process be killed between them, the
    // name's PID lets a later run know the part as an orphan.
    if (!self.isEmpty()) {
        m_temp = hiddenName();
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_temp.constData(), AT_SYMLINK_FOLLOW) !=
            0) {
            const int error = errno;
            m_temp.clear();
            throw RunError::fromErrno(error, m_path);
        }
    }
    const bool closed = ::close(std::exchange(m_fd, -1)) == 0;
    if (!closed || ::rename(m_temp.constData(), m_target.constData()) != 0)
        throw RunError::fromErrno(errno, m_path);
    m_temp.clear();
}

void writeFileWhole(const QString &path, const QByteArray &data, Existing existing)
{
    WholeFileWriter writer(path, existing);
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

namespace
{
InputFile::ReadHook &readHook()
{
    static InputFile::ReadHook hook;
    return hook;
}
} // namespace

void InputFile::setReadHook(ReadHook hook)
{
    readHook() = std::move(hook);
}

InputFile::Identity InputFile::identityOf(const struct stat &st)
{
    return {qint64(st.st_dev), qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec),
            qint64(st.st_mtim.tv_nsec)};
}

InputFile::InputFile(const QString &path) : m_path(path)
{
    const QByteArray name = fileNameToBytes(path);
    // Not blocking, so that a FIFO with no writer is refused rather than waited on.
    m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) {
        const int error = errno;
        throw error == ENOENT ? RunError::of(RunError::FileNotFound, path)
                              : RunError::fromErrno(error, path);
    }
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        const int error = errno;
        ::close(m_fd);
        throw RunError::fromErrno(error, path);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(m_fd);
        throw RunError::of(RunError::NotARegularFile,
                           path + (S_ISDIR(st.st_mode) ? QStringLiteral(" is a folder")
                                                       : QStringLiteral(" is not a regular file")));
    }
    m_size = st.st_size;
    m_identity = identityOf(st);
}

InputFile::InputFile(int fd, const QString &name) : m_path(name), m_fd(fd), m_named(false)
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        const int error = errno;
        ::close(m_fd);
        throw RunError::fromErrno(error, name);
    }
    m_size = st.st_size;
    m_identity = identityOf(st);
}

InputFile::InputFile(const QByteArray &bytes, const QString &name)
    : m_path(name), m_size(bytes.size()), m_bytes(bytes.constData())
{
}

InputFile::~InputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void InputFile::readAt(qint64 position, char *into, qint64 length)
{
    const auto changed = [&] {
        return RunError::of(RunError::DamagedPicture,
                            m_path + QStringLiteral(" changed while it was read"));
    };
    if (m_fd < 0) {
        if (position < 0 || length > m_size - position)
            throw changed();
        std::memcpy(into, m_bytes + position, size_t(length));
        return;
    }
    for (qint64 done = 0; done < length;) {
        const ssize_t n = ::pread(m_fd, into + done, size_t(length - done), off_t(position + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw RunError::fromErrno(errno, m_path);
        if (n == 0)
            throw changed();
        done += n;
    }
    if (readHook())
        readHook()(m_path, position + length);
}

void InputFile::checkUnchanged()
{
    if (m_fd < 0)
        return;
    // The open file's size and time say whether it was written to; the name's inode says
    // whether another file was put in its place, whose picture the mask would not show.
    struct stat now, named;
    const bool same = ::fstat(m_fd, &now) == 0 && identityOf(now) == m_identity &&
                      (!m_named || (::stat(fileNameToBytes(m_path).constData(), &named) == 0 &&
                                    qint64(named.st_dev) == m_identity.device &&
                                    qint64(named.st_ino) == m_identity.inode));
    if (!same)
        throw RunError::of(RunError::DamagedPicture,
                           m_path + QStringLiteral(" changed while it was read"));
}

bool entryExists(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(fileNameToBytes(path).constData(), &st) == 0;
}

namespace
{

// The length of the valid UTF-8 sequence at s[0] (of n bytes), or 0: no overlong forms,
// no surrogates, nothing past U+10FFFF.
int utf8Length(const uchar *s, qsizetype n)
{
    if (s[0] < 0x80)
        return 1;
    const auto inside = [&](qsizetype i, uchar lo, uchar hi) {
        return i < n && s[i] >= lo && s[i] <= hi;
    };
    if (s[0] >= 0xC2 && s[0] <= 0xDF)
        return inside(1, 0x80, 0xBF) ? 2 : 0;
    if (s[0] >= 0xE0 && s[0] <= 0xEF) {
        const uchar lo = s[0] == 0xE0 ? 0xA0 : 0x80, hi = s[0] == 0xED ? 0x9F : 0xBF;
        return inside(1, lo, hi) && inside(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (s[0] >= 0xF0 && s[0] <= 0xF4) {
        const uchar lo = s[0] == 0xF0 ? 0x90 : 0x80, hi = s[0] == 0xF4 ? 0x8F : 0xBF;
        return inside(1, lo, hi) && inside(2, 0x80, 0xBF) && inside(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

bool isEscapedByte(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

} // namespace

QString fileNameFromBytes(const QByteArray &rawName)
{
    const auto *s = reinterpret_cast<const uchar *>(rawName.constData());
    const qsizetype n = rawName.size();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n;) {
        const int len = utf8Length(s + i, n - i);
        if (len == 0) {
            out += QChar(char16_t(0xDC00 + s[i]));
            ++i;
        } else {
            out += QString::fromUtf8(rawName.constData() + i, len);
            i += len;
        }
    }
    return out;
}

QByteArray fileNameToBytes(const QString &name)
{
    if (std::none_of(name.cbegin(), name.cend(),
                     [](QChar c) { return isEscapedByte(c.unicode()); }))
        return name.toUtf8();
    QByteArray out;
    out.reserve(name.size());
    qsizetype start = 0; // the first character not yet added
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isEscapedByte(name[i].unicode()))
            continue;
        out += QStringView(name).mid(start, i - start).toUtf8();
        out += char(name[i].unicode() - 0xDC00);
        start = i + 1;
    }
    out += QStringView(name).mid(start).toUtf8();
    return out;
}

namespace
{

bool isFormatControl(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString printableName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c == u'\\') {
            out += QStringLiteral("\\\\");
        } else if (c == u'\n' || c == u'\t' || c == u'\r') {
            out += c == u'\n'   ? QStringLiteral("\\n")
                   : c == u'\t' ? QStringLiteral("\\t")
                                : QStringLiteral("\\r");
        } else if (c < 0x20 || c == 0x7F || isEscapedByte(c)) {
            // A control character, or a byte of the name that is not UTF-8.
            out += QStringLiteral("\\x%1").arg(uint(c & 0xFF), 2, 16, QLatin1Char('0'));
        } else if ((c >= 0x80 && c < 0xA0) || isFormatControl(c) ||
                   (QChar::isSurrogate(c) && !(QChar::isHighSurrogate(c) && i + 1 < name.size() &&
                                               name[i + 1].isLowSurrogate()))) {
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        } else {
            out += QChar(c);
            if (QChar::isHighSurrogate(c))
                out += name[++i];
        }
    }
    return out;
}

QString printableName(const QByteArray &rawName)
{
    return printableName(fileNameFromBytes(rawName));
}
