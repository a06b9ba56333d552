#pragma once

#include "Options.h"
#include "WatchPlanner.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

class Console;
class clsDebug;

// --watch: keeps the inputs' sprites masked while an artist saves them. Watches, with
// inotify, the folders named (and their sub-folders with -r, new ones included) and the
// folders of the files named, never the output folder. A sprite is masked once no event
// came for it for a quiet time, so an editor's several writes, or its temporary file
// renamed over the sprite, make one mask. Which files are sprites and where their masks go
// is decided as in the first pass (WatchPlanner), except that a changed sprite always
// replaces its mask.
class Watcher
{
public:
    // Starts watching at once, before the first pass, so that a sprite saved while that
    // pass runs is masked after it. `options` are MaskCommand's.
    explicit Watcher(const Options &options);
    ~Watcher();
    Watcher(const Watcher &) = delete;
    Watcher &operator=(const Watcher &) = delete;

    // Masks what changes, a line per sprite as the first pass prints them, until SIGINT,
    // SIGTERM or SIGHUP; the file being masked then is finished first. Rewrites the log
    // with the watch's entries added when one is asked for. Returns the exit code: 0,
    // unless nothing could be watched.
    int run(clsDebug &log, Console &console);

private:
    // A watched folder: every file in it, or only the files named on the command line.
    struct Folder {
        QString path;
        bool all = false, tree = false; // tree: its new sub-folders are watched too
        QSet<QString> names;
    };

    // Returns the folder's entry, null when it cannot be watched (reported in run()).
    Folder *watch(const QString &path);
    // The folder and, with -r, every folder under it, links not followed; with `schedule`
    // their files are taken as changed (a folder made or moved in may bring sprites along).
    void watchTree(const QString &path, bool schedule);
    // Stops watching a folder moved away, and the folders under it: its paths are stale.
    void forget(const QString &folder);
    void readEvents();
    // `writing`: written to and not closed yet, so it waits longer.
    void changed(const QString &path, bool writing);
    // Masks the sprites among `paths` (all changed sprites when `rescan`); false once a
    // signal asks to stop.
    bool mask(const QSet<QString> &paths, bool rescan, clsDebug &log, Console &console);
    bool stopAsked() const;

    Options m_options;
    WatchPlanner m_planner;
    int m_fd = -1;
    QHash<int, Folder> m_folders; // by watch descriptor
    QElapsedTimer m_clock;
    QHash<QString, qint64> m_pending; // each changed file, when it is due (on m_clock)
    QStringList m_problems;           // folders that could not be watched
    bool m_rescan = false;            // events were lost
    int m_masked = 0, m_failed = 0;
};
