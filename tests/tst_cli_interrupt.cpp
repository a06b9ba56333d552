#include "CliRun.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDir>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <pwd.h>
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
};

namespace
{
QStringList parts(const QString &dir)
{
    return QDir(dir).entryList({"*.part*"}, QDir::AllEntries | QDir::Hidden);
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

void TestCliInterrupt::orphanedParts_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("removed");
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0); // a PID no process has
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

QTEST_GUILESS_MAIN(TestCliInterrupt)
#include "tst_cli_interrupt.moc"
