#include "Watcher.h"

#include "BatchRunner.h"
#include "Console.h"
#include "FileOps.h"
#include "MaskCommand.h"
#include "RunError.h"
#include "clsDebug.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// How long a sprite must stay untouched before it is masked. An editor's save (truncate,
// writes, close; or a temporary file renamed over the sprite) comes well within it, and a
// hot-reloading game sees the mask a moment after the sprite.
constexpr qint64 QuietMs = 200;
// The same for a file written to but not closed yet: a slow writer is not caught halfway.
// PELLORAN_WATCH_WRITING_MS sets another, for a test to tell the two waits apart.
const qint64 WritingQuietMs = qEnvironmentVariableIntValue("PELLORAN_WATCH_WRITING_MS") > 0
                                  ? qEnvironmentVariableIntValue("PELLORAN_WATCH_WRITING_MS")
                                  : 2000;

constexpr uint32_t FolderEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO |
                                  IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR | IN_EXCL_UNLINK;

constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written to by the signal handler, read by the watch loop: the self-pipe trick, so that a
// signal wakes poll() whichever thread it lands on.
int stopPipe[2] = {-1, -1};

extern "C" void askToStop(int)
{
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}

QString errorText(int error)
{
    return error == ENOSPC
               ? QStringLiteral("too many folders watched; see fs.inotify.max_user_watches")
               : QString::fromLocal8Bit(strerror(error));
}

bool inside(const QString &path, const QString &folder)
{
    return !folder.isEmpty() && (path == folder || path.startsWith(folder + QLatin1Char('/')));
}

} // namespace

Watcher::Watcher(const Options &options) : m_options(options), m_planner(options)
{
    m_clock.start();
    m_fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_fd < 0) {
        m_problems.append(QStringLiteral("inotify: ") + errorText(errno));
        return;
    }
    for (const QString &input : std::as_const(m_options.inputs)) {
        if (input == QLatin1String("-"))
            continue; // standard input has nothing to watch
        const QFileInfo info(input);
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir()) {
            watchTree(path, false);
        } else if (info.exists()) { // a name that is not there failed the first pass
            // The file's folder, not the file: an editor's rename puts a new file there.
            const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
            if (Folder *f = watch(path.left(slash)))
                f->names.insert(path.mid(slash + 1));
        }
    }
}

Watcher::~Watcher()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Watcher::Folder *Watcher::watch(const QString &path)
{
    // Masks are written there; watching it would only wake us for our own files.
    if (inside(path, m_options.outputDir))
        return nullptr;
    const int wd = ::inotify_add_watch(m_fd, fileNameToBytes(path).constData(), FolderEvents);
    if (wd < 0) {
        m_problems.append(path + QStringLiteral(" (") + errorText(errno) + QLatin1Char(')'));
        return nullptr;
    }
    Folder &f = m_folders[wd]; // one inode, one descriptor: named twice, watched once
    if (f.path.isEmpty())
        f.path = path;
    return &f;
}

void Watcher::watchTree(const QString &path, bool schedule)
{
    Folder *f = watch(path);
    if (!f)
        return;
    f->all = true;
    f->tree = m_options.recursive;
    if (!schedule && !m_options.recursive)
        return;
    DIR *dir = ::opendir(fileNameToBytes(path).constData());
    if (!dir)
        return;
    QStringList subfolders;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QString full = path + QLatin1Char('/') + fileNameFromBytes(name);
        struct stat st;
        // Links are not followed, as in the first pass.
        if (::lstat(fileNameToBytes(full).constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode) && m_options.recursive)
            subfolders.append(full);
        else if (schedule && !S_ISDIR(st.st_mode))
            changed(full, false);
    }
    ::closedir(dir);
    for (const QString &sub : std::as_const(subfolders))
        watchTree(sub, schedule);
}

void Watcher::changed(const QString &path, bool writing)
{
    // Our own masks (and a mask-named file anyone saves) are never sprites.
    if (namedLikeMask(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1), m_options.suffix))
        return;
    m_pending.insert(path, m_clock.elapsed() + (writing ? WritingQuietMs : QuietMs));
}

void Watcher::forget(const QString &folder)
{
    for (auto f = m_folders.begin(); f != m_folders.end();) {
        if (inside(f->path, folder)) {
            ::inotify_rm_watch(m_fd, f.key());
            f = m_folders.erase(f);
        } else {
            ++f;
        }
    }
}

void Watcher::readEvents()
{
    alignas(inotify_event) char buffer[16384];
    ssize_t n;
    while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0) {
        for (const char *at = buffer; at < buffer + n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(at);
            at += sizeof(inotify_event) + e->len;
            if (e->mask & IN_Q_OVERFLOW) {
                m_rescan = true;
                continue;
            }
            const auto folder = m_folders.constFind(e->wd);
            if (folder == m_folders.cend())
                continue;
            if (e->mask & IN_IGNORED) { // the folder is gone
                m_folders.erase(folder);
                continue;
            }
            if (!e->len)
                continue;
            const QString name = fileNameFromBytes(e->name);
            const QString path = folder->path + QLatin1Char('/') + name;
            if (e->mask & IN_ISDIR) {
                if (folder->tree && (e->mask & (IN_CREATE | IN_MOVED_TO)))
                    watchTree(path, true); // may add to m_folders: `folder` is not used after
                else if (e->mask & IN_MOVED_FROM)
                    forget(path);
            } else if (folder->all || folder->names.contains(name)) {
                if (e->mask & (IN_DELETE | IN_MOVED_FROM))
                    m_pending.remove(path);
                else // a write without its close yet waits for the close
                    changed(path, e->mask & IN_MODIFY);
            }
        }
    }
}

bool Watcher::stopAsked() const
{
    pollfd p{stopPipe[0], POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool Watcher::mask(const QSet<QString> &paths, bool rescan, clsDebug &log, Console &console)
{
    // A changed sprite replaces its mask: that is what watching is for.
    Options o = m_options;
    o.overwrite = true;
    o.update = false;
    for (const Plan &p : rescan ? m_planner.rescan() : m_planner.touched(paths)) {
        if (stopAsked())
            return false;
        m_planner.remember(p.sprite);
        const QList<Plan> one{p};
        BatchRunner runner(o, one, console);
        QElapsedTimer clock;
        clock.start();
        const BatchRunner::Tally t = o.dryRun ? runner.dryRun() : runner.run(log, clock);
        console.clearBar();
        m_masked += t.masked;
        m_failed += t.failed;
    }
    return true;
}

int Watcher::run(clsDebug &log, Console &console)
{
    for (const QString &problem : std::as_const(m_problems))
        console.err(QStringLiteral("pelloran-mask: cannot watch ") + problem);
    if (m_fd < 0 || m_folders.isEmpty()) {
        console.err(QStringLiteral("pelloran-mask: nothing to watch"));
        return MaskCommand::SomeNotMasked;
    }
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        console.err(QStringLiteral("pelloran-mask: cannot watch: ") + errorText(errno));
        return MaskCommand::SomeNotMasked;
    }
    struct sigaction stop = {}, before[std::size(StopSignals)];
    stop.sa_handler = askToStop;
    stop.sa_flags = SA_RESTART; // the masking's own reads and writes go on undisturbed
    sigemptyset(&stop.sa_mask);
    for (size_t i = 0; i < std::size(StopSignals); ++i)
        ::sigaction(StopSignals[i], &stop, &before[i]);
    if (!m_options.quiet)
        console.err(QStringLiteral("pelloran-mask: watching %1 folder(s) for changes; Ctrl-C "
                                   "ends the watch")
                        .arg(m_folders.size()));
    for (;;) {
        readEvents();
        const qint64 now = m_clock.elapsed();
        QSet<QString> due;
        qint64 next = -1;
        for (auto p = m_pending.begin(); p != m_pending.end();) {
            if (*p <= now) {
                due.insert(p.key());
                p = m_pending.erase(p);
            } else {
                next = next < 0 ? *p : std::min(next, *p);
                ++p;
            }
        }
        if (!due.isEmpty() || m_rescan) {
            const bool rescan = std::exchange(m_rescan, false);
            if (!mask(due, rescan, log, console))
                break;
            continue; // events came meanwhile
        }
        pollfd fds[2] = {{stopPipe[0], POLLIN, 0}, {m_fd, POLLIN, 0}};
        if (::poll(fds, 2, next < 0 ? -1 : int(next - now)) > 0 && fds[0].revents)
            break;
    }
    for (size_t i = 0; i < std::size(StopSignals); ++i)
        ::sigaction(StopSignals[i], &before[i], nullptr);
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
    if (!m_options.logFile.isEmpty() && !m_options.dryRun) {
        try {
            writeFileWhole(m_options.logFile, log.GetHistory().toUtf8());
        } catch (const RunError &e) {
            console.err(QStringLiteral("pelloran-mask: the log could not be written: ") +
                        e.description());
        }
    }
    if (!m_options.quiet)
        console.err(
            QStringLiteral("pelloran-mask: watch ended: %1 %2, %3 failed")
                .arg(m_masked)
                .arg(m_options.dryRun ? QStringLiteral("to mask") : QStringLiteral("masked"))
                .arg(m_failed));
    return MaskCommand::AllMasked;
}
