#include "CliRun.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// pelloran-mask stopped from outside while it replaces masks, and what it leaves behind.
class TestCliInterrupt : public QObject
{
    Q_OBJECT
private slots:
    void interrupted_data();
    void interrupted();
    void stoppedBeforeStart_data();
    void stoppedBeforeStart();
    void orphanedParts_data();
    void orphanedParts();
    void replacedMaskKeepsOwner();
    void secondSignal();
    void standardInput_data();
    void standardInput();
    void orphanedScratch_data();
    void orphanedScratch();
};

namespace
{
QStringList parts(const QString &dir)
{
    return QDir(dir).entryList({"*.part*"}, QDir::AllEntries | QDir::Hidden);
}

// pelloran-mask started with pipes the test holds: standard output is read only if the test
// reads it, so a run can be kept waiting on a full pipe.
struct Child {
    pid_t pid = -1;
    int in = -1, out = -1;

    Child(const QStringList &args, const QByteArrayList &env = {})
    {
        ::signal(SIGPIPE, SIG_IGN); // a run that ended early fails the test, not ends it
        int i[2], o[2];
        if (::pipe2(i, O_CLOEXEC) != 0 || ::pipe2(o, O_CLOEXEC) != 0)
            qFatal("no pipe");
        // Made before the fork: the child only calls what is safe there.
        QList<QByteArray> argv{PELLORAN_MASK_BIN}, envs = env;
        for (const QString &a : args)
            argv.append(QFile::encodeName(a));
        for (char **e = environ; *e; ++e)
            envs.append(*e);
        std::vector<char *> v, ve;
        for (QByteArray &a : argv)
            v.push_back(a.data());
        for (QByteArray &e : envs)
            ve.push_back(e.data());
        v.push_back(nullptr);
        ve.push_back(nullptr);
        if ((pid = ::fork()) == 0) {
            ::dup2(i[0], 0);
            ::dup2(o[1], 1);
            ::execve(v[0], v.data(), ve.data());
            ::_exit(127);
        }
        ::close(i[0]);
        ::close(o[1]);
        in = i[1];
        out = o[0];
    }
    ~Child()
    {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0)
            ::waitpid(pid, nullptr, 0);
        ::close(in);
        ::close(out);
    }
    // The wait status, or -1 when the run has not ended within a minute.
    int wait()
    {
        for (QDeadlineTimer deadline(60000); !deadline.hasExpired(); QThread::msleep(10)) {
            int status;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return status;
            }
        }
        return -1;
    }
    // Whether the run has `n` files open that no name leads to in `folder` (scratch files)
    // within a minute.
    bool holdsScratch(const QString &folder, int n) const
    {
        for (QDeadlineTimer deadline(60000); !deadline.hasExpired(); QThread::msleep(10)) {
            int found = 0;
            const QString fds = QString("/proc/%1/fd").arg(pid);
            for (int fd = 0; fd < 1024; ++fd) {
                char to[4096];
                const ssize_t len =
                    ::readlink(qPrintable(fds + "/" + QString::number(fd)), to, sizeof to);
                const QString target = QString::fromLocal8Bit(to, std::max<ssize_t>(len, 0));
                found += target.startsWith(folder + "/") && target.endsWith(" (deleted)");
            }
            if (found == n)
                return true;
        }
        return false;
    }
};

// Whether `signal` is among the run's signals that are pending and not yet handled.
bool pending(pid_t pid, int signal)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    for (const char *field : {"SigPnd:", "ShdPnd:"}) {
        const qsizetype at = text.indexOf(field) + qstrlen(field);
        if (text.mid(at, text.indexOf('\n', at) - at).trimmed().toULongLong(nullptr, 16) &
            (1ULL << (signal - 1)))
            return true;
    }
    return false;
}
} // namespace

void TestCliInterrupt::interrupted_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("noTmpfile");
    QTest::newRow("SIGINT") << SIGINT << false;
    QTest::newRow("SIGTERM") << SIGTERM << false;
    QTest::newRow("SIGHUP") << SIGHUP << false;
    QTest::newRow("SIGINT, part files") << SIGINT << true;
    QTest::newRow("SIGTERM, part files") << SIGTERM << true;
    QTest::newRow("reader gone") << SIGPIPE << false; // reads one line, then closes the pipe
}

void TestCliInterrupt::interrupted()
{
    QFETCH(int, signal);
    QFETCH(bool, noTmpfile);
    // 60 sheets of 12 MB of pixels, slow to inflate: still under way at the first line.
    const int sheets = 60, side = 2048;
    static const QByteArray sprite = [] {
        QImage sheet(side, side, QImage::Format_RGB32);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                sheet.setPixel(x, y, (x / 16 + y / 16) % 3 ? qRgb(x * 7, y * 3, x ^ y) : 0);
        return saved(sheet, "png");
    }();
    QTemporaryDir dir;
    const auto name = [&](int i, const char *end) {
        return dir.filePath(QString::asprintf("s%02d", i) + QLatin1String(end));
    };
    for (int i = 0; i < sheets; ++i) {
        writeFile(name(i, ".png"), sprite);
        writeFile(name(i, "_mask.png"), sprite); // an old mask, to replace
    }
    QProcess p;
    if (noTmpfile)
        p.setEnvironment(QProcess::systemEnvironment() << "PELLORAN_NO_TMPFILE=1");
    const QStringList args{QStringLiteral(PELLORAN_MASK_BIN), "--overwrite", "-j2", dir.path()};
    if (signal == SIGPIPE)
        p.start("/bin/bash",
                QStringList{"-c", "\"$0\" \"$@\" | head -n1; exit ${PIPESTATUS[0]}"} + args);
    else
        p.start(args[0], args.mid(1));
    QString out;
    while (!out.contains("masked ") && p.waitForReadyRead(-1))
        out += QString::fromUtf8(p.readAllStandardOutput());
    if (signal != SIGPIPE)
        ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(-1));
    out += QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + signal);
    QCOMPARE(parts(dir.path()), QStringList());
    // Each mask is the old one, untouched, or a whole new one that was reported.
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    int changed = 0;
    for (int i = 0; i < sheets; ++i) {
        const QByteArray mask = readFile(name(i, "_mask.png"));
        const bool reported =
            lines.contains("masked " + name(i, ".png") + " -> " + name(i, "_mask.png"));
        if (mask != sprite)
            QCOMPARE(QImage::fromData(mask).size(), QSize(side, side));
        changed += mask != sprite;
        QVERIFY(reported <= (mask != sprite) &&
                (signal == SIGPIPE || reported == (mask != sprite)));
    }
    if (signal == SIGPIPE) { // as quiet as GNU tools when the reader goes
        QCOMPARE(err, QString());
        QCOMPARE(lines.size(), 1);
        QVERIFY2(changed < sheets, "the run had ended before the reader went");
        return;
    }
    const QRegularExpressionMatch summary =
        QRegularExpression(QString("interrupted by SIG") + sigabbrev_np(signal) +
                           ": (\\d+) masked, 0 kept, 0 up to date, 0 failed, (\\d+) not started\n$")
            .match(err);
    QVERIFY2(summary.hasMatch(), qPrintable(err));
    const int masked = summary.captured(1).toInt(), notStarted = summary.captured(2).toInt();
    QVERIFY2(notStarted > 0, "the run had ended before the signal");
    QCOMPARE(masked + notStarted, sheets);
    QCOMPARE(lines.size(), masked);
    QCOMPARE(changed, masked);
}

// A stop that comes before the first worker starts (pending, blocked, when the program
// began): every worker still ends, whatever the number of jobs and however fast each one
// finds the run stopped, and the run ends with its summary.
void TestCliInterrupt::stoppedBeforeStart_data()
{
    QTest::addColumn<int>("jobs");
    for (int jobs = 2; jobs <= 8; ++jobs)
        QTest::newRow(qPrintable(QStringLiteral("-j%1").arg(jobs))) << jobs;
}

void TestCliInterrupt::stoppedBeforeStart()
{
    QFETCH(int, jobs);
    QTemporaryDir dir;
    const QByteArray sprite = saved(sample(), "bmp");
    for (int i = 0; i < 100; ++i)
        writeFile(dir.filePath(QStringLiteral("s%1.bmp").arg(i)), sprite);
    for (int run = 0; run < 4; ++run) {
        QProcess p;
        p.setChildProcessModifier([] {
            sigset_t term;
            sigemptyset(&term);
            sigaddset(&term, SIGTERM);
            ::pthread_sigmask(SIG_BLOCK, &term, nullptr);
            ::kill(::getpid(), SIGTERM); // pending through exec until the program takes it
        });
        p.start(PELLORAN_MASK_BIN, {"-j", QString::number(jobs), dir.path()});
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            QFAIL(qPrintable(QStringLiteral("run %1 never ended").arg(run)));
        }
        QCOMPARE(p.exitCode(), 128 + SIGTERM);
        QCOMPARE(p.readAllStandardError(), QByteArray("pelloran-mask: interrupted by SIGTERM: 0 "
                                                      "masked, 0 kept, 0 up to date, 0 failed, "
                                                      "100 not started\n"));
        QCOMPARE(QDir(dir.path()).entryList({"*_mask*"}), QStringList());
    }
}

// A PID no process has: a child's, once it has ended and been waited for.
static pid_t deadPid()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

void TestCliInterrupt::orphanedParts_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("removed");
    const pid_t child = deadPid();
    const QString host = "@" + QSysInfo::machineHostName();
    const auto part = [&](const char *mask, int n, pid_t pid, const QString &at) {
        return QStringLiteral(".%1.part%2-%3").arg(mask).arg(n).arg(pid) + at;
    };
    const auto row = [](const char *name, const QString &part, const char *kind, bool removed) {
        QTest::newRow(name) << part << QString(kind) << removed;
    };
    row("killed run", part("x_mask.bmp", 0, child, host), "file", true);
    row("live run", part("x_mask.bmp", 0, getpid(), host), "file", false);
    // On a shared folder a PID of another machine says nothing about its process.
    row("another machine's run", part("x_mask.bmp", 0, child, "@elsewhere"), "file", false);
    row("mask not planned", part("y_mask.bmp", 0, child, host), "file", false);
    row("link", part("x_mask.bmp", 3, child, host), "link", false);
    row("another user's", part("x_mask.bmp", 5, child, host), "nobody's", false);
}

void TestCliInterrupt::orphanedParts()
{
    QFETCH(QString, part);
    QFETCH(QString, kind);
    QFETCH(bool, removed);
    QTemporaryDir dir;
    writeFile(dir.filePath("x.bmp"), saved(sample(), "bmp"));
    const QByteArray path = QFile::encodeName(dir.filePath(part));
    if (kind == "link")
        QCOMPARE(symlink("x.bmp", path.constData()), 0);
    else
        writeFile(dir.filePath(part), "half a mask");
    if (kind == "nobody's" && geteuid() != 0)
        QSKIP("giving a file to another user takes root");
    if (kind == "nobody's")
        QCOMPARE(chown(path.constData(), getpwnam("nobody")->pw_uid, gid_t(-1)), 0);
    const Run r = maskCommand({dir.filePath("x.bmp")});
    QCOMPARE(r.code, 0);
    QCOMPARE(parts(dir.path()), removed ? QStringList() : QStringList{part});
    QCOMPARE(r.err.contains("removed the part file " + dir.filePath(part) + " of an earlier run"),
             removed);
}

void TestCliInterrupt::replacedMaskKeepsOwner()
{
    if (geteuid() != 0)
        QSKIP("replacing another user's mask takes root");
    const passwd *nobody = getpwnam("nobody");
    QTemporaryDir dir;
    writeFile(dir.filePath("x.bmp"), saved(sample(), "bmp"));
    const QByteArray mask = QFile::encodeName(dir.filePath("x_mask.bmp"));
    writeFile(QFile::decodeName(mask), "an old mask");
    QCOMPARE(chown(mask.constData(), nobody->pw_uid, nobody->pw_gid), 0);
    QCOMPARE(chmod(mask.constData(), 06777), 0);
    QCOMPARE(maskCommand({"--overwrite", dir.filePath("x.bmp")}).code, 0);
    struct stat st;
    QCOMPARE(stat(mask.constData(), &st), 0);
    QCOMPARE(st.st_uid, nobody->pw_uid);
    QCOMPARE(st.st_gid, nobody->pw_gid);
    QCOMPARE(st.st_mode & 07777, mode_t(0777));
}

// A second Ctrl-C ends the run at once, without waiting for anything in flight: here a
// report held up by a reader that does not read.
void TestCliInterrupt::secondSignal()
{
    QTemporaryDir dir;
    const QByteArray bmp = saved(sample(), "bmp");
    for (int i = 0; i < 1500; ++i)
        writeFile(dir.filePath(QString("a sprite with a long name, number %1.bmp").arg(i)), bmp);
    Child run({"-j", "1", dir.path()});
    int waiting = 0;
    for (QDeadlineTimer deadline(60000); waiting + 4096 < ::fcntl(run.out, F_GETPIPE_SZ);
         QThread::msleep(10))
        QVERIFY2(!deadline.hasExpired() && ::ioctl(run.out, FIONREAD, &waiting) == 0,
                 "standard output never filled");
    QCOMPARE(::kill(run.pid, SIGINT), 0);
    for (QDeadlineTimer deadline(60000); pending(run.pid, SIGINT); QThread::msleep(10))
        QVERIFY(!deadline.hasExpired());
    QCOMPARE(::kill(run.pid, SIGINT), 0);
    const int status = run.wait();
    QVERIFY2(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGINT, "the run went on");
}

// Standard input's sprite and its mask are kept in files no name leads to: nothing of them
// is left however the run ends, killed included, while it reads the sprite or waits to send
// the mask.
void TestCliInterrupt::standardInput_data()
{
    QTest::addColumn<int>("signal"); // SIGPIPE: standard output's reader gone
    QTest::addColumn<bool>("masking");
    QTest::addColumn<bool>("noTmpfile");
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL})
        for (const bool masking : {false, true})
            QTest::addRow("%s, %s", sigabbrev_np(signal), masking ? "masking" : "reading")
                << signal << masking << false;
    QTest::newRow("PIPE, masking") << SIGPIPE << true << false;
    QTest::newRow("TERM, reading, named scratch files") << SIGTERM << false << true;
    QTest::newRow("KILL, masking, named scratch files") << SIGKILL << true << true;
}

void TestCliInterrupt::standardInput()
{
    QFETCH(int, signal);
    QFETCH(bool, masking);
    QFETCH(bool, noTmpfile);
    QTemporaryDir scratch;
    static const QByteArray sprite = saved(sample().scaled(1024, 1024), "bmp");
    QByteArrayList env{"TMPDIR=" + QFile::encodeName(scratch.path())};
    if (noTmpfile)
        env.append("PELLORAN_NO_TMPFILE=1");
    Child run({"-"}, env);
    const QByteArray part = masking ? sprite : sprite.left(sprite.size() / 2);
    QCOMPARE(::write(run.in, part.constData(), size_t(part.size())), part.size());
    if (masking)
        ::close(std::exchange(run.in, -1));
    // Reading, the sprite's file; masking, the mask's too, which waits for a reader.
    QVERIFY(run.holdsScratch(scratch.path(), masking ? 2 : 1));
    if (signal == SIGPIPE)
        ::close(std::exchange(run.out, -1));
    else
        QCOMPARE(::kill(run.pid, signal), 0);
    const int status = run.wait();
    if (signal == SIGKILL)
        QVERIFY(status != -1 && WIFSIGNALED(status));
    else
        QCOMPARE(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 128 + signal);
    QCOMPARE(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

// The scratch files a killed run left: named ones of this version by their PID, and the
// folders earlier versions made once no run can be writing into them.
void TestCliInterrupt::orphanedScratch_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("holds"); // "file"; a folder's files: "", "mask", "other"
    QTest::addColumn<int>("age");       // seconds
    QTest::addColumn<bool>("removed");
    const pid_t child = deadPid();
    const QString host = "@" + QSysInfo::machineHostName();
    const auto file = [&](pid_t pid, const QString &at) {
        return QStringLiteral("pelloran-mask-%1%2-Ab12Cd").arg(pid).arg(at);
    };
    QTest::newRow("killed run") << file(child, host) << "file" << 0 << true;
    QTest::newRow("live run") << file(getpid(), host) << "file" << 0 << false;
    QTest::newRow("another machine's run") << file(child, "@elsewhere") << "file" << 0 << false;
    QTest::newRow("old folder, empty") << "pelloran-mask-Xy12Zw"
                                       << "" << 3600 << true;
    QTest::newRow("old folder, its mask") << "pelloran-mask-Xy12Zw"
                                          << "mask" << 3600 << true;
    QTest::newRow("old folder, in use") << "pelloran-mask-Xy12Zw"
                                        << "" << 60 << false;
    QTest::newRow("old folder, other files") << "pelloran-mask-Xy12Zw"
                                             << "other" << 3600 << false;
    QTest::newRow("not ours by its name") << "pelloran-masks-Xy12Z"
                                          << "" << 3600 << false;
}

void TestCliInterrupt::orphanedScratch()
{
    QFETCH(QString, name);
    QFETCH(QString, holds);
    QFETCH(int, age);
    QFETCH(bool, removed);
    QTemporaryDir scratch, work;
    const QString path = scratch.filePath(name);
    if (holds == "file") {
        writeFile(path, "half a sprite");
    } else {
        QVERIFY(QDir().mkdir(path));
        if (!holds.isEmpty())
            writeFile(path + "/" + holds, "a mask");
    }
    const timespec then[2] = {{time(nullptr) - age, 0}, {time(nullptr) - age, 0}};
    QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), then, 0), 0);
    writeFile(work.filePath("s.bmp"), saved(sample(), "bmp"));
    const Run r = shell("TMPDIR=\"$1\" \"$0\" - < \"$2\" > /dev/null",
                        {scratch.path(), work.filePath("s.bmp")});
    QCOMPARE(r.code, 0);
    QCOMPARE(QFileInfo::exists(path), !removed);
    QCOMPARE(r.err.contains("removed the scratch " +
                            QString(holds == "file" ? "file " : "folder ") + path +
                            " of an earlier run"),
             removed);
}

QTEST_GUILESS_MAIN(TestCliInterrupt)
#include "tst_cli_interrupt.moc"
