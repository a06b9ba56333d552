#include "StreamMask.h"

#include "Console.h"
#include "FileJob.h"
#include "Interruption.h"
#include "MaskCommand.h"
#include "MaskRun.h"
#include "Options.h"
#include "PictureChecks.h"
#include "PictureIO.h"
#include "PictureSource.h"
#include "clsDebug.h"

#include <QDir>
#include <QtEndian>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const QString Name = QStringLiteral("-");

// The largest file the largest sprite the program takes can be: four bytes a pixel, and
// room for headers, palettes and chunks a file may carry besides.
constexpr qint64 MaxSpriteBytes = MaxPicturePixels * 4 + (1 << 20);
// What no honest file of a readable format exceeds per declared pixel: a PNG of 16-bit
// RGBA rows stored without compression; BMP, TGA and GIF take less.
constexpr qint64 MaxBytesPerPixel = 8;
// Enough of the stream kept in memory to find a JPEG's size behind its metadata.
constexpr qsizetype HeadBytes = 1 << 20;
// How long a wait on a pipe lasts before an interruption is looked for again.
constexpr int PollMs = 100;

// The failure of the mask rather than of the sprite: the log tells them apart.
struct WriteFailure {
    RunError error;
};
struct Interrupted {
};

// Waits until `fd` may be read or written without blocking; an interruption ends the wait.
void waitFor(int fd, short events)
{
    for (;;) {
        if (Interruption::signal())
            throw Interrupted{};
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, PollMs);
        if (n > 0 || (n < 0 && errno != EINTR))
            return; // the read or write itself tells what is wrong
    }
}

// $TMPDIR as named: QDir::tempPath() gives nothing for a folder that is not there, which
// would make the failure's message name nothing.
QString scratchFolder()
{
    const QString named = qEnvironmentVariable("TMPDIR");
    return QDir::cleanPath(named.isEmpty() ? QStringLiteral("/tmp") : named);
}

// A file no name leads to, so that nothing of it outlives the process, however it ends.
// Where the file system cannot make one, a named file unlinked at once: its name carries
// the PID, for a later run to remove it should the process be killed in between.
int openScratch()
{
    const QByteArray dir = QFile::encodeName(scratchFolder());
    if (qEnvironmentVariableIsEmpty("PELLORAN_NO_TMPFILE")) {
        const int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
            return fd;
    }
    QByteArray name = dir + "/pelloran-mask-" + partFileOwner() + "-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.constData());
    return fd;
}

int scratchOrThrow()
{
    const int fd = openScratch();
    if (fd < 0)
        throw WriteFailure{RunError::fromErrno(errno, scratchFolder())};
    return fd;
}

void writeAll(int fd, const char *data, qint64 size, const QString &name)
{
    for (qint64 done = 0; done < size;) {
        if (fd == STDOUT_FILENO)
            waitFor(fd, POLLOUT);
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EPIPE) { // the reader is gone: an interruption, as for a batch
            Interruption::request(SIGPIPE);
            throw Interrupted{};
        }
        if (n <= 0)
            throw WriteFailure{RunError::fromErrno(n < 0 ? errno : ENOSPC, name)};
        done += n;
    }
}

// The width and height a picture's first bytes declare; false while they do not tell (yet).
bool declaredSize(const QByteArray &head, qint64 &w, qint64 &h)
{
    const auto *p = reinterpret_cast<const uchar *>(head.constData());
    const qsizetype n = head.size();
    // Kept where their product cannot overflow: the checks refuse such sizes anyway.
    const auto size = [&](qint64 width, qint64 height) {
        w = std::min<qint64>(std::abs(width), 1LL << 31);
        h = std::min<qint64>(std::abs(height), 1LL << 31);
        return true;
    };
    if (head.startsWith("BM") && n >= 26)
        return qFromLittleEndian<quint32>(p + 14) == 12
                   ? size(qFromLittleEndian<quint16>(p + 18), qFromLittleEndian<quint16>(p + 20))
                   : size(qFromLittleEndian<qint32>(p + 18), qFromLittleEndian<qint32>(p + 22));
    if (head.startsWith("\x89PNG") && n >= 24)
        return size(qFromBigEndian<quint32>(p + 16), qFromBigEndian<quint32>(p + 20));
    if (head.startsWith("GIF") && n >= 10)
        return size(qFromLittleEndian<quint16>(p + 6), qFromLittleEndian<quint16>(p + 8));
    if (head.startsWith("\xFF\xD8")) { // segment by segment to the frame header
        for (qsizetype at = 2; at + 9 <= n && p[at] == 0xFF;) {
            const uchar m = p[at + 1];
            if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC)
                return size(qFromBigEndian<quint16>(p + at + 7),
                            qFromBigEndian<quint16>(p + at + 5));
            at += m == 0xFF ? 1 : 2 + qFromBigEndian<quint16>(p + at + 2);
        }
        return false;
    }
    // What else passed the first check is a TGA header.
    return n >= 18 && size(qFromLittleEndian<quint16>(p + 12), qFromLittleEndian<quint16>(p + 14));
}

// A stream that does not start as a picture of a readable format is refused at once, with
// the words a file of the same bytes gets. A TGA has no signature, only its header.
void checkStart(const QByteArray &head)
{
    if (head.startsWith("BM") || head.startsWith("\x89PNG\r\n\x1a\n") ||
        head.startsWith("\xFF\xD8\xFF") || head.startsWith("GIF87a") || head.startsWith("GIF89a") ||
        looksLikeTga(head, {}, 0, QStringLiteral("-.tga")))
        return;
    InputFile start(head, Name);
    openPicture(start, Name); // raises what is wrong
    throw RunError::of(RunError::InvalidPicture, Name + QStringLiteral(" is not a picture"));
}

// Standard input as a file the sources read at any position, and its first bytes: itself
// when it is a regular file read from its start, else an unnamed scratch file it is copied
// into as it comes, no further than the picture its header declares can reach.
int takeStandardInput(QByteArray &head)
{
    struct stat st;
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode) &&
        ::lseek(STDIN_FILENO, 0, SEEK_CUR) == 0) {
        const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
        if (fd < 0)
            throw RunError::fromErrno(errno, Name);
        head.resize(std::min<qint64>(st.st_size, 32));
        if (::pread(fd, head.data(), size_t(head.size()), 0) != head.size())
            head.clear(); // the source reads it again and says what is wrong
        return fd;
    }
    const int fd = scratchOrThrow();
    try {
        char buffer[1 << 16];
        qint64 total = 0, bound = MaxSpriteBytes;
        for (bool checked = false, declared = false;;) {
            waitFor(STDIN_FILENO, POLLIN);
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw RunError::fromErrno(errno, Name);
            if (n == 0)
                return fd;
            head.append(buffer, std::min<qsizetype>(n, HeadBytes - head.size()));
            if (!checked && head.size() >= 32) {
                checkStart(head);
                checked = true;
            }
            if (qint64 w, h; checked && !declared && declaredSize(head, w, h)) {
                checkPixelCount(Name, w, h);
                bound = std::min(MaxSpriteBytes, w * h * MaxBytesPerPixel + (1 << 20));
                declared = true;
            }
            if ((total += n) > bound)
                throw RunError::of(
                    RunError::DamagedPicture,
                    Name + (bound == MaxSpriteBytes
                                ? QStringLiteral(": more than %1 bytes, larger than any sprite the "
                                                 "program takes")
                                : QStringLiteral(": more than %1 bytes, more than the picture its "
                                                 "header declares can take"))
                               .arg(bound));
            writeAll(fd, buffer, n, scratchFolder());
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
}

// Sends the finished mask on, from the scratch file's start.
void copyToStandardOutput(int fd)
{
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw WriteFailure{RunError::fromErrno(errno, scratchFolder())};
        if (n == 0)
            return;
        writeAll(STDOUT_FILENO, buffer, n, QStringLiteral("standard output"));
        at += n;
    }
}

class StopOnSignal final : public JobObserver
{
public:
    bool stopRequested() override { return Interruption::signal() != 0; }
};

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

int maskStandardInput(const Options &options, Console &console, clsDebug &log)
{
    if (options.dryRun) {
        if (!options.quiet)
            console.err(QStringLiteral("would mask - -> -"));
        return MaskCommand::AllMasked;
    }
    removeOrphanedScratch(console);
    // A signal cuts a wait on a pipe short instead of resuming it, so that a run waiting on
    // a writer or a reader that has stalled still ends.
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action;
        ::sigaction(s, nullptr, &action);
        action.sa_flags &= ~SA_RESTART;
        ::sigaction(s, &action, nullptr);
    }
    const auto fail = [&](const QString &entry, const RunError &e) {
        log.Print_(entry, e);
        console.err(QStringLiteral("pelloran-mask: failed -: ") + e.description());
        return int(MaskCommand::SomeNotMasked);
    };
    try {
        QByteArray head;
        InputFile in(takeStandardInput(head), Name);
        FileJob::Settings settings = options.job;
        if (options.formatGiven.isEmpty()) {
            const bool png = head.startsWith("\x89PNG\r\n\x1a\n");
            settings.kind.format = png ? MaskFormat::Png : MaskFormat::Bmp;
            settings.kind.depth = options.depthGiven ? options.depthGiven : png ? 1 : 24;
        }
        // The mask is made in a file first: a BMP's rows are written where they belong,
        // which a pipe cannot take, and a sprite that fails half way sends nothing.
        const Fd mask{scratchOrThrow()};
        FileJob job(settings);
        StopOnSignal observer;
        switch (job.run(in, mask.fd, &observer)) {
        case FileJob::Outcome::Masked: break;
        case FileJob::Outcome::Failed:
            return fail(job.failedReading() ? MaskRun::cantLoadEntry(Name)
                                            : MaskRun::failedEntry(Name),
                        *job.error());
        default: throw Interrupted{};
        }
        copyToStandardOutput(mask.fd);
        log.Print_(MaskRun::maskedEntry(Name, Name));
        return MaskCommand::AllMasked;
    } catch (const RunError &e) {
        return fail(MaskRun::cantLoadEntry(Name), e);
    } catch (const WriteFailure &w) {
        return fail(MaskRun::failedEntry(Name), w.error);
    } catch (const Interrupted &) {
        const int signal = Interruption::signal();
        console.err(QStringLiteral("pelloran-mask: interrupted by %1")
                        .arg(Interruption::signalName(signal)));
        return 128 + signal;
    }
}

void removeOrphanedScratch(Console &console)
{
    const QByteArray dir = QFile::encodeName(scratchFolder());
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return;
    const int fd = ::dirfd(d);
    const QByteArray owner = partFileOwner(), host = owner.mid(owner.indexOf('@'));
    const auto alnum = [](const QByteArray &s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return std::isalnum(uchar(c)); });
    };
    while (const dirent *entry = ::readdir(d)) {
        const QByteArray name(entry->d_name);
        struct stat st;
        if (!name.startsWith("pelloran-mask-") ||
            ::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            st.st_uid != ::geteuid())
            continue;
        const QByteArray rest = name.mid(14);
        const QString path = QFile::decodeName(dir + '/' + name);
        // A file this version named for a moment: the PID says whether its run is gone.
        const qsizetype at = rest.indexOf('@'), dash = rest.lastIndexOf('-');
        bool isPid = false;
        const pid_t pid = pid_t(rest.left(at).toInt(&isPid));
        if (S_ISREG(st.st_mode) && at > 0 && isPid && pid > 0 && dash > at &&
            rest.mid(at, dash - at) == host && ::kill(pid, 0) != 0 && errno == ESRCH &&
            ::unlinkat(fd, name.constData(), 0) == 0)
            console.err(
                QStringLiteral("pelloran-mask: removed the scratch file %1 of an earlier run")
                    .arg(path));
        // The folder earlier versions made, named without a PID: left alone while a run
        // could still be masking into it, and only holding what such a run puts there.
        if (!S_ISDIR(st.st_mode) || rest.size() != 6 || !alnum(rest) ||
            ::time(nullptr) - st.st_mtime < 600)
            continue;
        const int sub = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        DIR *inner = sub >= 0 ? ::fdopendir(sub) : nullptr;
        if (!inner) {
            if (sub >= 0)
                ::close(sub);
            continue;
        }
        bool onlyMask = true;
        while (const dirent *e = ::readdir(inner)) {
            const QByteArray n(e->d_name);
            struct stat m;
            if (n != "." && n != ".." &&
                (n != "mask" || ::fstatat(sub, "mask", &m, AT_SYMLINK_NOFOLLOW) != 0 ||
                 !S_ISREG(m.st_mode)))
                onlyMask = false;
        }
        if (onlyMask) {
            ::unlinkat(sub, "mask", 0);
            if (::unlinkat(fd, name.constData(), AT_REMOVEDIR) == 0)
                console.err(
                    QStringLiteral("pelloran-mask: removed the scratch folder %1 of an earlier run")
                        .arg(path));
        }
        ::closedir(inner);
    }
    ::closedir(d);
}
