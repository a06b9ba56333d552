#include "CliRun.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

// What pelloran-mask finds, reads, writes and prints under names as the file system has
// them: bytes that are not UTF-8, links, whatever sits at a mask's name, names that would
// print like others. Runs go through a shell, which keeps a name's bytes (QProcess passes text).
class TestCliNames : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { std::filesystem::remove_all(m_dir->path().toStdString()); }
    void names_data();
    void names();
    void tooManyOpenFiles();
    void bashCompletion_data();
    void bashCompletion();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCliNames::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QFile sprite(QStringLiteral("a.bmp"));
    QVERIFY(sprite.open(QIODevice::WriteOnly) && sprite.write(saved(sample(), "BMP")) > 0);
}

void TestCliNames::names_data()
{
    QTest::addColumn<QString>("setup"); // $n is the name `printf` makes of column "name"
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("report"); // in the one line on standard output
    QTest::addColumn<QByteArray>("made");
    const auto row = [](const char *tag, const char *setup, const char *name, const char *args,
                        int code, const char *report, const QByteArray &made = {}) {
        QTest::newRow(tag) << QString::fromUtf8(setup) << QString::fromUtf8(name)
                           << QString::fromUtf8(args) << code << QString::fromUtf8(report) << made;
    };
    row("folder at the mask's name", "mkdir a_mask.bmp", "", "a.bmp", 1, "a_mask.bmp is a folder");
    row("FIFO at the mask's name", "mkfifo a_mask.bmp", "", "a.bmp", 1,
        "a_mask.bmp is not a regular file");
    row("dangling link at the mask's name", "ln -s none a_mask.bmp", "", "--dry-run a.bmp", 1,
        "/a_mask.bmp is a link to nothing");
    row("-u replaces a dangling link", "ln -s none a_mask.bmp", "", "-u a.bmp", 0, "masked ",
        "a_mask.bmp");
    row("linked sprite in a folder", "mkdir d; ln -s ../a.bmp d/l.bmp", "", "d", 0, "/d/l.bmp -> ",
        "d/l_mask.bmp");
    row("dangling link in a folder", "mkdir d; ln -s ../b.bmp d/l.bmp", "", "d", 1,
        "/d/l.bmp: File not found: a link to nothing");
    row("-o inside -r, new suffix", "mkdir t; mv a.bmp t; \"$0\" -r -o t/out t >/dev/null", "",
        "-r -o t/out -s _m t", 0, "/t/a.bmp -> ", "t/out/a_m.bmp");
    row("FIFO named", "mkfifo p.bmp", "", "p.bmp", 1, "failed p.bmp: Not a regular file");
    const char *latin = "mkdir n; mv a.bmp \"n/$n\"; printf 'n/%s\\n' \"$n\" >list";
    row("not UTF-8, named", latin, "h\\351ros.bmp", "\"n/$n\"", 0, "/n/h\\xe9ros.bmp -> ",
        "n/h\xe9ros_mask.bmp");
    row("not UTF-8, in a folder", latin, "h\\351ros.bmp", "n", 0, "/n/h\\xe9ros.bmp -> ",
        "n/h\xe9ros_mask.bmp");
    row("not UTF-8, listed", latin, "h\\351ros.bmp", "--files-from list", 0, "/n/h\\xe9ros.bmp -> ",
        "n/h\xe9ros_mask.bmp");
    // Never patterns: the file of that very name is masked, the one a pattern matches kept.
    row("? in a folder", "mv a.bmp \"$n\"; echo k >whatX_mask.bmp", "what?.bmp",
        ". && grep -qx k whatX_mask.bmp", 0, "/what?.bmp -> ", "what?_mask.bmp");
    row("* named", "mv a.bmp \"$n\"; echo k >stXXr_mask.bmp", "st*r.bmp",
        "\"$n\" && grep -qx k stXXr_mask.bmp", 0, "/st*r.bmp -> ", "st*r_mask.bmp");
    row("[ in a folder", "mv a.bmp \"$n\"; echo k >a_mask.bmp", "[a].bmp",
        ". && grep -qx k a_mask.bmp", 0, "/[a].bmp -> ", "[a]_mask.bmp");
    row("hidden, its mask kept", "mv a.bmp \"$n\"; echo k >.h_mask.bmp", ".h.bmp",
        ". && grep -qx k .h_mask.bmp", 0, "kept ");
    // Each name prints one way, and on one line.
    const char *named = "mv a.bmp \"$n\"";
    row("newline and escape", named, "a\\nb\\033[31m.bmp", "--dry-run \"$n\"", 0,
        "/a\\nb\\x1b[31m.bmp -> ");
    row("backslash and n", named, "a\\\\nb.bmp", "--dry-run \"$n\"", 0, "/a\\\\nb.bmp -> ");
    row("byte 85", named, "a\\205.bmp", "--dry-run \"$n\"", 0, "/a\\x85.bmp -> ");
    row("C1 U+0085", named, "a\\302\\205.bmp", "--dry-run \"$n\"", 0, "/a\\u0085.bmp -> ");
    row("U+202E", named, "x\\342\\200\\256gnp.bmp", "--dry-run \"$n\"", 0, "/x\\u202egnp.bmp -> ");
    row("U+2028", named, "a\\342\\200\\250b.bmp", "--dry-run \"$n\"", 0, "/a\\u2028b.bmp -> ");
}

void TestCliNames::names()
{
    QFETCH(QString, setup);
    QFETCH(QString, name);
    QFETCH(QString, args);
    QFETCH(int, code);
    QFETCH(QString, report);
    QFETCH(QByteArray, made);
    const Run r = shell("n=$(printf '" + name + "'); " + setup + "; \"$0\" -j 1 " + args);
    QCOMPARE(r.code, code);
    QVERIFY2(r.out.contains(report) && r.out.count('\n') == 1, qPrintable(r.out + r.err));
    QCOMPARE(r.out.startsWith("failed "), code != 0); // never "up to date"
    if (!made.isEmpty())
        QVERIFY(::access(made.constData(), F_OK) == 0);
}

// The limit is lowered once the program waits for its list, past everything it opens to
// start, so that the sprite is the first file it cannot open.
void TestCliNames::tooManyOpenFiles()
{
    QProcess p;
    p.start(PELLORAN_MASK_BIN, {"-j", "1", "--files-from", "-"});
    QVERIFY(p.waitForStarted());
    const QString proc = QStringLiteral("/proc/%1/").arg(p.processId());
    QTRY_VERIFY_WITH_TIMEOUT(readFile(proc + "syscall").startsWith("0 0x0 "), 600000);
    rlimit limit;
    QVERIFY(::prlimit(pid_t(p.processId()), RLIMIT_NOFILE, nullptr, &limit) == 0);
    const QStringList open =
        QDir(proc + "fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (limit.rlim_cur = 0; open.contains(QString::number(limit.rlim_cur));)
        ++limit.rlim_cur; // the lowest descriptor free
    QVERIFY(::prlimit(pid_t(p.processId()), RLIMIT_NOFILE, &limit, nullptr) == 0);
    p.write("a.bmp\n");
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(-1));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    if (p.readAllStandardError().contains("invalid vptr")) // its check takes two descriptors
        QSKIP("the undefined-behaviour sanitizer cannot run without a free "
              "descriptor");
    QVERIFY2(out.startsWith("failed ") && out.contains(": Too many open files"), qPrintable(out));
    QCOMPARE(p.exitCode(), 1);
}

void TestCliNames::bashCompletion_data()
{
    QTest::addColumn<QString>("loaded"); // sourced before the completion
    QTest::newRow("plain bash") << "";
    QTest::newRow("bash-completion") << "/usr/share/bash-completion/bash_completion";
}

void TestCliNames::bashCompletion()
{
    QFETCH(QString, loaded);
    if (!loaded.isEmpty() && !QFile::exists(loaded))
        QSKIP("bash-completion is not installed");
    QVERIFY(QFile::copy("a.bmp", "my sprite.bmp") && QFile::copy("a.bmp", "other.bmp"));
    const Run r =
        maskCommand({"-c",
                     "[ -z \"$1\" ] || . \"$1\"; . \"$2\"; COMP_WORDS=(pelloran-mask my); "
                     "COMP_CWORD=1; "
                     "_pelloran_mask; printf '%s\\n' \"${COMPREPLY[@]}\"",
                     "bash", loaded, QFINDTESTDATA("../data/completions/pelloran-mask.bash")},
                    {}, QStringLiteral("/bin/bash"));
    QCOMPARE(r.out, QStringLiteral("my sprite.bmp\n"));
}

QTEST_GUILESS_MAIN(TestCliNames)
#include "tst_cli_names.moc"
