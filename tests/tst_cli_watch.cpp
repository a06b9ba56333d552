#include "ReferenceMask.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

// pelloran-mask --watch as an artist runs it beside a game: sprites saved the ways editors
// save them while the command watches, and their masks checked pixel by pixel.
class TestCli_watch : public QObject
{
    Q_OBJECT
private slots:
    void saves_data();
    void saves();
    void stillWritten();
    void lostEvents();
};

namespace
{

// A BMP of black background and other colours, different for each seed.
QByteArray sprite(quint32 seed)
{
    return saved(randomSprite(7, 5, Black, seed), "BMP");
}

QImage maskOf(const QByteArray &bmp)
{
    return referenceMask(QImage::fromData(bmp), QSize(7, 5), Black, White);
}

// Waits, handling events so the process's output is read, until `ready` or the deadline:
// the deadline is only there to name what never came, on however loaded a machine.
template <typename Ready> bool within(int ms, Ready ready)
{
    for (QDeadlineTimer deadline(ms); !ready();)
        if (deadline.hasExpired())
            return false;
        else
            QTest::qWait(20);
    return true;
}

} // namespace

void TestCli_watch::saves_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("how"); // "rename", "rewrite", or "folder": its folder moved in
    QTest::addColumn<QString>("saved");
    QTest::addColumn<QString>("mask"); // "": none may appear
    QTest::addColumn<int>("signal");
    const auto row = [](const char *tag, const QStringList &args, const char *how,
                        const char *saved, const char *mask, int signal = SIGINT) {
        QTest::newRow(tag) << args << QString(how) << QString(saved) << QString(mask) << signal;
    };
    const QStringList here{"."}, r{"-r", "."};
    row("new sprite renamed in", here, "rename", "new.bmp", "new_mask.bmp");
    row("sprite rewritten in place", here, "rewrite", "a.bmp", "a_mask.bmp", SIGTERM);
    row("file named, renamed over", {"a.bmp"}, "rename", "a.bmp", "a_mask.bmp");
    row("-o", {"-o", "out", "."}, "rename", "new.bmp", "out/new_mask.bmp");
    row("new sub-folder, -r", r, "rename", "fresh/c.bmp", "fresh/c_mask.bmp");
    row("folder moved in, -r", r, "folder", "moved/c.bmp", "moved/c_mask.bmp");
    row("named like a mask", here, "rename", "b_mask.bmp", "");
    row("sub-folder without -r", here, "rename", "fresh/c.bmp", "");
}

void TestCli_watch::saves()
{
    QFETCH(QStringList, args);
    QFETCH(QString, how);
    QFETCH(QString, saved);
    QFETCH(QString, mask);
    QFETCH(int, signal);
    QTemporaryDir box;
    const QString dir = box.filePath("sprites");
    QDir().mkpath(dir);
    const QByteArray old = sprite(1), fresh = sprite(2);
    writeFile(dir + "/a.bmp", old);
    QDir().mkpath(dir + "/old");
    writeFile(dir + "/old/b.bmp", old); // present at the start: masked once, under -r

    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(PELLORAN_MASK_BIN, QStringList{"--watch"} + args);
    QString err;
    QVERIFY2(within(600000, [&] { return (err += p.readAllStandardError()).contains("watching"); }),
             qPrintable(err));
    const QString firstMask = args.contains("-o") ? "out/a_mask.bmp" : "a_mask.bmp";
    QCOMPARE(QImage(dir + "/" + firstMask).convertToFormat(QImage::Format_RGB32), maskOf(old));

    // Saved as editors do: a whole new file renamed over the sprite, or the sprite itself
    // truncated and written.
    const QString target = dir + "/" + saved;
    if (how != "folder") // a sub-folder made now, a moment before its sprite
        QDir().mkpath(QFileInfo(target).path());
    if (how == "rewrite") {
        writeFile(target, fresh);
    } else if (how == "rename") {
        writeFile(target + ".tmp~", fresh);
        QCOMPARE(std::rename(qPrintable(target + ".tmp~"), qPrintable(target)), 0);
    } else {
        const QString outside = box.filePath(saved);
        QDir().mkpath(QFileInfo(outside).path());
        writeFile(outside, fresh);
        QCOMPARE(std::rename(qPrintable(QFileInfo(outside).path()),
                             qPrintable(QFileInfo(target).path())),
                 0);
    }
    const auto masked = [&](const QString &m, const QByteArray &s) {
        return within(600000, [&] {
            return QImage(dir + "/" + m).convertToFormat(QImage::Format_RGB32) == maskOf(s);
        });
    };
    if (!mask.isEmpty()) {
        QVERIFY(masked(mask, fresh));
    } else {
        // Events are handled in order: once a later sprite is masked, no mask of the first
        // is coming.
        writeFile(dir + "/later.bmp", old);
        QVERIFY(masked("later_mask.bmp", old));
        QStringList files;
        for (QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            if (const QString f = QDir(dir).relativeFilePath(it.next()); !f.startsWith("old/"))
                files.append(f);
        files.sort();
        QCOMPARE(files, QStringList({"a.bmp", "a_mask.bmp", saved, "later.bmp", "later_mask.bmp"}));
    }

    QVERIFY(::kill(pid_t(p.processId()), signal) == 0);
    QVERIFY(p.waitForFinished(-1));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QString out = p.readAllStandardOutput();
    err += p.readAllStandardError();
    QVERIFY2(!out.contains("failed"), qPrintable(out));
    if (!mask.isEmpty())
        QCOMPARE(out.count(QString("masked %1 -> %2/%3\n").arg(target, dir, mask)),
                 saved == "a.bmp" ? 2 : 1); // the first pass's line, and the watch's
    // What was there at the start is masked by the first pass alone.
    QCOMPARE(out.count(QString("masked %1/old/b.bmp -> ").arg(dir)), int(args.contains("-r")));
    QCOMPARE(out.count(QString("masked %1/a.bmp -> ").arg(dir)), saved == "a.bmp" ? 2 : 1);
    QVERIFY2(err.contains("watch ended"), qPrintable(err));
}

namespace
{
// pelloran-mask --watch on `dir`, once it watches.
struct Watch : QProcess {
    QString out, err;
    Watch(const QString &dir, const QStringList &args)
    {
        setWorkingDirectory(dir);
        start(PELLORAN_MASK_BIN, QStringList{"--watch"} + args);
    }
    ~Watch()
    {
        ::kill(pid_t(processId()), SIGKILL);
        waitForFinished();
    }
    bool said(const QString &what, int ms = 30000)
    {
        return within(ms, [&] {
            out += readAllStandardOutput();
            err += readAllStandardError();
            return (out + err).contains(what);
        });
    }
};
} // namespace

// A sprite written to and not closed yet waits for the long quiet time (set to ten minutes
// here), while a closed one is masked after the short one: a slow writer is not caught half
// way. Its close ends the wait.
void TestCli_watch::stillWritten()
{
    QTemporaryDir dir;
    const QByteArray old = sprite(1), fresh = sprite(2);
    writeFile(dir.filePath("slow.bmp"), old);
    qputenv("PELLORAN_WATCH_WRITING_MS", "600000");
    Watch w(dir.path(), {"."});
    qunsetenv("PELLORAN_WATCH_WRITING_MS");
    QVERIFY2(w.said("watching"), qPrintable(w.err));
    QFile slow(dir.filePath("slow.bmp"));
    QVERIFY(slow.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(slow.write(fresh.left(fresh.size() / 2)) > 0 && slow.flush());
    writeFile(dir.filePath("later.bmp"), fresh);
    QVERIFY2(w.said("later_mask.bmp"), qPrintable(w.err));
    QCOMPARE(w.out.count("slow.bmp"), 1); // the first pass's line alone
    QVERIFY(slow.write(fresh.mid(fresh.size() / 2)) > 0);
    slow.close();
    QVERIFY(within(10000, [&] {
        return QImage(dir.filePath("slow_mask.bmp")).convertToFormat(QImage::Format_RGB32) ==
               maskOf(fresh);
    }));
}

// Sprites replaced, each by a file with an older time (as mv, cp -p, tar or rsync -t put
// them), while the watch's events overflow: the rescan finds them changed all the same.
// The queue is overflowed for real, by events made while the watch is stopped.
void TestCli_watch::lostEvents()
{
    QFile limit("/proc/sys/fs/inotify/max_queued_events");
    const int queue = limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toInt() : 0;
    if (queue <= 0 || queue > 200000)
        QSKIP("the event queue's size is unknown or too large to overflow");
    QTemporaryDir dir;
    const int sprites = 50;
    const auto name = [&](int i, const char *end) {
        return dir.filePath(QString::asprintf("s%02d", i) + end);
    };
    for (int i = 0; i < sprites; ++i)
        writeFile(name(i, ".bmp"), sprite(1));
    Watch w(dir.path(), {"."});
    QVERIFY2(w.said("watching"), qPrintable(w.err));
    QCOMPARE(::kill(pid_t(w.processId()), SIGSTOP), 0);
    for (int i = 0; i <= queue / 3; ++i) { // a create, a close and a delete each
        const QString junk = dir.filePath(QString("junk%1").arg(i));
        writeFile(junk, {});
        QFile::remove(junk);
    }
    const timespec year2000[2] = {{946684800, 0}, {946684800, 0}};
    for (int i = 0; i < sprites; ++i) {
        writeFile(name(i, ".new"), sprite(i + 2));
        QCOMPARE(utimensat(AT_FDCWD, qPrintable(name(i, ".new")), year2000, 0), 0);
        QCOMPARE(std::rename(qPrintable(name(i, ".new")), qPrintable(name(i, ".bmp"))), 0);
    }
    QCOMPARE(::kill(pid_t(w.processId()), SIGCONT), 0);
    int stale = sprites;
    within(60000, [&] {
        stale = 0;
        for (int i = 0; i < sprites; ++i)
            stale += QImage(name(i, "_mask.bmp")).convertToFormat(QImage::Format_RGB32) !=
                     maskOf(sprite(i + 2));
        return stale == 0;
    });
    QCOMPARE(stale, 0);
}

QTEST_GUILESS_MAIN(TestCli_watch)
#include "tst_cli_watch.moc"
