#include "CliRun.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// What each option does when the user gets it wrong or the system refuses it: the message on
// the stream the manual names, its exit status, and nothing lost (the sprite as it was, no
// part file, no mask but the ones the row names). Rows about file modes run as a user whom
// the modes bind.
class TestCliOptions : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fails_data();
    void fails();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCliOptions::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    writeFile(QStringLiteral("a.bmp"), saved(sample(), "BMP"));
}

void TestCliOptions::cleanup()
{
    QProcess::execute(QStringLiteral("chmod"), {"-R", "u+rwX", m_dir->path()});
    removeTree(m_dir->path());
}

void TestCliOptions::fails_data()
{
    QTest::addColumn<bool>("moded");    // run as a user whom file modes bind
    QTest::addColumn<QString>("setup"); // bash, run by that user before the command
    QTest::addColumn<QString>("args");  // bash words after the command
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");   // on standard output and not on error; "": nothing
    QTest::addColumn<QString>("err");   // on standard error and not on output; "": nothing
    QTest::addColumn<QString>("check"); // bash, must succeed afterwards
    const auto row = [](const char *tag, const char *setup, const char *args, int code,
                        const char *out, const char *err, const char *check = "true",
                        bool moded = false) {
        QTest::newRow(tag) << moded << QString(setup) << QString(args) << code << QString(out)
                           << QString(err) << QString(check);
    };
    const char *noMask = "[ ! -e a_mask.bmp ]";
    const auto usage = [&](const char *tag, const char *args, const char *err) {
        row(tag, "", args, 2, "", err, noMask);
    };
    usage("-m", "-m nosuchcolour a.bmp", "bad mask colour 'nosuchcolour'");
    usage("--sprite-colour", "--sprite-colour 1,2 a.bmp", "bad sprite colour '1,2'");
    usage("-t 17 times", "$(printf -- '-t %d,0,0 ' $(seq 17)) a.bmp", "more than 16 transparency");
    usage("-f 256", "-f 256 a.bmp", "bad fuzz '256'");
    usage("--alpha=-1", "--alpha=-1 a.bmp", "bad alpha '-1'");
    usage("-s with a slash", "-s x/y a.bmp", "must not contain \"/\"");
    usage("-o ''", "-o '' a.bmp", "the output folder's name is empty");
    usage("--format gif", "--format gif a.bmp", "bad format 'gif'");
    usage("--depth 8", "--depth 8 a.bmp", "bad depth '8'");
    usage("-j 0: the help's N files at once, never none", "-j 0 a.bmp", "bad number of jobs '0'");
    usage("-0 without a list", "-0 a.bmp", "--null is for lists read with --files-from");
    usage("--files-from a missing list", "--files-from none a.bmp",
          "cannot read the list 'none': No such file or directory");
    usage("--files-from a folder", "--files-from . a.bmp",
          "cannot read the list '.': Is a directory");
    usage("an unknown option", "--colour red a.bmp", "Unknown option 'colour'");
    usage("an unknown option in a bundle", "-rx a.bmp", "Unknown option 'x'");
    usage("-u with --overwrite", "-u --overwrite a.bmp", "exclude each other");
    usage("nothing given", "", "no sprite files");
    // getopt's rule for an optional value: only the rest of its bundle is -a's value.
    usage("-ar: r is the value", "-ar a.bmp", "bad alpha 'r' (use 0 to 255, attached");
    usage("--log -", "--log - a.bmp", "--log writes a file, never standard output");
    usage("--watch -", "--watch - <a.bmp", "--watch cannot watch standard input");
    usage("--json -", "--json - <a.bmp", "--json reports on standard output");
    // A log over a file of the run is refused before anything is written, under any name.
    row("--log a hard link of a sprite", "ln a.bmp hard.log", "--log hard.log a.bmp", 2, "",
        "the log hard.log would be written over the sprite %1/a.bmp", noMask);
    // -u replaces a mask only when its sprite is newer, to the nanosecond.
    const char *made = "\"$0\" -q a.bmp && cp a_mask.bmp keep && ";
    const QByteArray same = made + QByteArray("touch -r a_mask.bmp a.bmp"),
                     later = made + QByteArray("touch -d '2020-01-01 00:00:00.000000001' "
                                               "a_mask.bmp && touch -d '2020-01-01 "
                                               "00:00:00.000000002' a.bmp"),
                     earlier = made + QByteArray("touch -d '2020-01-01 00:00:01.1' a_mask.bmp "
                                                 "&& touch -d '2020-01-01 00:00:00.9' a.bmp");
    row("-u, mask as new as its sprite", same, "-u -t white a.bmp", 0, "up to date %1/a.bmp",
        "0 masked, 0 kept, 1 up to date", "cmp a_mask.bmp keep");
    row("-u, sprite a nanosecond newer", later, "-u -t white a.bmp", 0, "masked %1/a.bmp",
        "1 masked, 0 kept, 0 up to date", "! cmp -s a_mask.bmp keep");
    row("-u, sprite older by less than a second", earlier, "-u -t white a.bmp", 0,
        "up to date %1/a.bmp", "0 masked, 0 kept, 1 up to date", "cmp a_mask.bmp keep");
    // Which files, where.
    row("-o -r two folders deep", "mkdir -p d/e/f && cp a.bmp d/e/f && cp a.bmp d", "-r -o out d",
        0, "masked %1/d/e/f/a.bmp -> %1/out/e/f/a_mask.bmp\n", "2 masked",
        "[ -f out/a_mask.bmp ] && [ -f out/e/f/a_mask.bmp ]");
    row("--dry-run -o makes no folder", "", "--dry-run -o out/deep a.bmp", 0,
        "would mask %1/a.bmp -> %1/out/deep/a_mask.bmp", "dry run: 1 to mask", "[ ! -e out ]");
    row("links in a walked folder: a sprite's followed, a folder's not",
        "mkdir -p d/sub && cp a.bmp d/sub && ln -s sub d/l && ln -s ../a.bmp d/s.bmp", "-r d", 0,
        "masked %1/d/s.bmp", "2 masked, 0 kept, 0 up to date, 0 failed",
        "[ -f d/s_mask.bmp ] && [ -f d/sub/a_mask.bmp ]");
    row("--pattern ignores letter case, names are taken as named",
        "mkdir d && cp a.bmp d/b.BMP && cp a.bmp d/c.png", "--pattern '*.bmp' d a.bmp", 0,
        "masked %1/d/b.BMP", "2 masked", "[ -f a_mask.bmp ] && [ ! -e d/c_mask.png ]");
    row("--watch with nothing to watch", "", "--watch none.bmp", 1,
        "failed none.bmp: File not found", "nothing to watch", noMask);
    // Short options bundled as getopt takes them.
    row("-ra: -a alone, the folder a file", "mkdir -p d/e && cp a.bmp d/e", "-ra d", 0,
        "masked %1/d/e/a.bmp", "1 masked", "[ -f d/e/a_mask.bmp ]");
    row("-qa50, -qj2", "mkdir d && cp a.bmp d", "-qa50 -qj2 a.bmp d", 0, "", "",
        "[ -f a_mask.bmp ] && [ -f d/a_mask.bmp ]");
    row("a folder without sprites", "mkdir d && cp a.bmp d/a.txt", "d", 0, "",
        "warning: no sprites in d\npelloran-mask: 0 masked", noMask);
    row("a pattern that matches nothing", "", "--pattern '*.gif' .", 0, "",
        "warning: no sprites in . matching *.gif", noMask);
    // With no suffix, a mask must not land on another sprite of the run.
    row("-s '' -o onto another sprite", "mkdir -p t/sub o/sub && cp a.bmp t/sub && cp a.bmp o/sub",
        "-r -s '' -o o --overwrite t o/sub/a.bmp", 1,
        "failed %1/t/sub/a.bmp: its mask %1/o/sub/a.bmp would be written over a sprite",
        "1 masked, 0 kept, 0 up to date, 1 failed", "cmp a.bmp o/sub/a.bmp && [ -f o/a.bmp ]");
    row("the same file named thrice", "", "a.bmp ./a.bmp . -j 2", 0, "masked %1/a.bmp",
        "1 masked, 0 kept, 0 up to date, 0 failed");
    row("left out on standard output", "cp a.bmp old_mask.bmp", "old_mask.bmp a.bmp", 0,
        "left out %1/old_mask.bmp: named like a mask (_mask)\n", "1 masked",
        "[ ! -e old_mask_mask.bmp ]");
    row("-q: no left out line", "cp a.bmp old_mask.bmp", "-q old_mask.bmp a.bmp", 0, "", "",
        "[ -f a_mask.bmp ]");
    row("--dry-run whose reader goes away",
        "n=$(printf %0200d 0); for i in $(seq 2000); do : >$n$i.bmp; done",
        "--dry-run -o out . | head -n1; exit ${PIPESTATUS[0]}", 141, "would mask ", "",
        "[ ! -e out ]");
    // An error without a label of its own is a system error, not a permission problem.
    row("a link that loops", "ln -s loop loop", "loop", 1,
        "failed loop: System error: loop (Too many levels of symbolic links)",
        "0 masked, 0 kept, 0 up to date, 1 failed", noMask);
    // File modes, which root would pass by.
    row("unreadable sprite, logged", "chmod 0 a.bmp", "--log run.log a.bmp", 1,
        "failed %1/a.bmp: Permission denied", "0 masked, 0 kept, 0 up to date, 1 failed",
        "grep -qF \"] Can't load '$PWD/a.bmp' (Err#70: Permission denied: \" run.log", true);
    row("unreadable folder under -r", "mkdir -p d/e && cp a.bmp d/e && chmod 0 d/e", "-r d", 1,
        "failed %1/d/e: Permission denied", "1 failed", "[ ! -e d/e/a_mask.bmp ]", true);
    row("unwritable sprite folder, logged", "mkdir d && cp a.bmp d && chmod 555 d",
        "--log run.log d", 1, "failed %1/d/a.bmp: Permission denied: %1/d/a_mask.bmp", "1 failed",
        "[ \"$(ls -A d)\" = a.bmp ] && grep -qF \"] An error occured while masking '$PWD/d/a.bmp'."
        " (Err#70: Permission denied: $PWD/d/a_mask.bmp\" run.log",
        true);
    row("-o in an unwritable folder", "mkdir d && chmod 555 d", "-o d/out a.bmp", 1,
        "failed %1/a.bmp: Permission denied: %1/d/out", "1 failed", "[ ! -e d/out ]", true);
    row("--overwrite a read-only mask",
        "\"$0\" -q a.bmp && chmod 444 a_mask.bmp && cp -p a_mask.bmp keep",
        "--overwrite -t white a.bmp", 1, "a_mask.bmp is read-only", "1 failed",
        "cmp a_mask.bmp keep", true);
    row("--files-from an unreadable list", "echo a.bmp >list && chmod 0 list", "--files-from list",
        2, "", "cannot read the list 'list': Permission denied", noMask, true);
    row("--log in an unwritable folder", "mkdir d && chmod 555 d", "--log d/run.log a.bmp", 1,
        "masked %1/a.bmp", "the log could not be written: Permission denied",
        "[ -f a_mask.bmp ] && [ ! -e d/run.log ]", true);
    row("--log read-only", "echo old >run.log && chmod 444 run.log", "--log run.log a.bmp", 1,
        "masked %1/a.bmp", "the log could not be written: Permission denied",
        "[ -f a_mask.bmp ] && [ \"$(cat run.log)\" = old ]", true);
}

void TestCliOptions::fails()
{
    QFETCH(bool, moded);
    QFETCH(QString, setup);
    QFETCH(QString, args);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, check);
    const QByteArray sprite = readFile(QStringLiteral("a.bmp"));
    const QString script =
        (setup.isEmpty() ? QString() : setup + " || exit 99\n") + "\"$0\" " + args;
    const Run r = moded ? unprivileged(script) : shell(script);
    QVERIFY2(r.code == code, qPrintable(QString::number(r.code) + '\n' + r.out + r.err));
    out.replace("%1", m_dir->path());
    err.replace("%1", m_dir->path());
    QVERIFY2(out.isEmpty() ? r.out.isEmpty() : r.out.contains(out) && !r.err.contains(out),
             qPrintable(r.out));
    QVERIFY2(err.isEmpty() ? r.err.isEmpty() : r.err.contains(err) && !r.out.contains(err),
             qPrintable(r.err));
    QFile::setPermissions("a.bmp", QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(readFile(QStringLiteral("a.bmp")), sprite);
    const Run after = shell("! find . -name '.*.part*' | grep . && " + check);
    QVERIFY2(after.code == 0, qPrintable(after.out + after.err));
}

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_cli_options.moc"
