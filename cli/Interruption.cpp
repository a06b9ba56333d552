#include "Interruption.h"

#include "Console.h"
#include "MaskPlanner.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");

void recordSignal(int signal)
{
    int none = 0;
    g_signal.compare_exchange_strong(none, signal);
}

// Whether `name` is `.<mask>.part<N>-<PID>@<this host>` for one of `masks`; gives the PID.
// A part of another machine's run is never ours to judge, whatever its PID.
bool isPartOf(const QByteArray &name, const QSet<QByteArray> &masks, pid_t &pid)
{
    const qsizetype part = name.lastIndexOf(".part");
    if (!name.startsWith('.') || part < 2 || !masks.contains(name.mid(1, part - 1)))
        return false;
    const QByteArray tail = name.mid(part + 5);
    const qsizetype at = tail.indexOf('@');
    if (at < 0 || tail.mid(at + 1) != partFileOwner().mid(partFileOwner().indexOf('@') + 1))
        return false;
    const QList<QByteArray> numbers = tail.left(at).split('-');
    if (numbers.size() != 2)
        return false;
    for (const QByteArray &n : numbers)
        if (n.isEmpty() ||
            !std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
    bool ok = false;
    pid = pid_t(numbers[1].toInt(&ok));
    return ok && pid > 0;
}

} // namespace

void Interruption::install()
{
    struct sigaction action = {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the next signal of the kind has its default action (see the header).
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigset_t stops;
    sigemptyset(&stops);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(s, &action, nullptr);
        sigaddset(&stops, s);
    }
    // A parent may have started us with them blocked, which would leave Ctrl-C waiting in
    // vain; one that came meanwhile is taken now, before any file is begun.
    ::pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    // A write to a closed pipe fails with EPIPE instead, which the reporter turns into an
    // interruption that still ends with the summary.
    ::signal(SIGPIPE, SIG_IGN);
}

int Interruption::signal()
{
    return g_signal.load(std::memory_order_relaxed);
}

void Interruption::request(int signal)
{
    recordSignal(signal);
}

QString Interruption::signalName(int signal)
{
    switch (signal) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGHUP: return QStringLiteral("SIGHUP");
    case SIGPIPE: return QStringLiteral("SIGPIPE");
    default: return QStringLiteral("signal %1").arg(signal);
    }
}

void removeOrphanedParts(const QList<Plan> &plans, Console &console)
{
    // Each folder is listed once, however many masks it gets.
    QHash<QByteArray, QSet<QByteArray>> masksByFolder;
    for (const Plan &p : plans) {
        if (p.state == Plan::Failed || p.mask.isEmpty())
            continue;
        const QFileInfo mask(p.mask);
        masksByFolder[QFile::encodeName(mask.path())].insert(QFile::encodeName(mask.fileName()));
    }
    for (auto folder = masksByFolder.cbegin(); folder != masksByFolder.cend(); ++folder) {
        DIR *dir = ::opendir(folder.key().constData());
        if (!dir)
            continue;
        const int fd = ::dirfd(dir);
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            pid_t pid = 0;
            struct stat st;
            // The PID tells a killed run from one still writing; a reused PID keeps the file.
            if (!isPartOf(name, folder.value(), pid) || pid == ::getpid() || ::kill(pid, 0) == 0 ||
                errno != ESRCH || ::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
                continue;
            if (::unlinkat(fd, name.constData(), 0) == 0)
                console.err(
                    QStringLiteral("pelloran-mask: removed the part file %1 of an earlier run")
                        .arg(QFile::decodeName(folder.key() + '/' + name)));
        }
        ::closedir(dir);
    }
}
