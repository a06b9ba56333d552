#include "CliRun.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "TestFiles.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// What pelloran-mask writes, and where: the rule's colours, the masks' kinds and names, the
// mask of standard input on standard output, and the log.
class TestCliOutputs : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void colours_data();
    void colours();
    void kinds_data();
    void kinds();
    void runs_data();
    void runs();
    void standardStreams_data();
    void standardStreams();
    void json_data();
    void json();
    void jsonNames();
    void standardInputLog_data();
    void standardInputLog();
    void endlessInput_data();
    void endlessInput();
    void notOnATerminal();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString file(const QString &n) const { return m_dir->filePath(n); }
};

namespace
{
const QByteArray pngSignature("\x89PNG\r\n\x1a\n"), bmpSignature("BM");

// A picture saved by ImageMagick, the encoder most users' GIF and TGA files come from.
bool converted(const QImage &picture, const QString &to)
{
    const QString from = to + QStringLiteral(".src.png");
    return picture.save(from) && QProcess::execute("/usr/bin/convert", {from, to}) == 0 &&
           QFile::remove(from);
}
} // namespace

void TestCliOutputs::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QDir::setCurrent(m_dir->path());
    writeBmp(randomSprite(12, 9, Black, 1), file("s.bmp"));
    QVERIFY(randomSprite(10, 6, Black, 2).save(file("p.png")));
    QVERIFY(QFile::link(m_dir->path(), file("link")) && QDir().mkdir("sub"));
}

// One row of sprite pixels through the rule, each against the mask pixel it must give. With
// no mask pixels the colour is refused.
void TestCliOutputs::colours_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<QRgb>>("sprite");
    QTest::addColumn<QList<QRgb>>("mask");
    const QRgb opaqueBlack = 0xFF000000, clearRed = 0x00FF0000, red = 0xFFFF0000,
               white = 0xFFFFFFFF, black = 0xFF000000, cyan = 0xFF00FFFF;
    using P = QList<QRgb>;
    QTest::newRow("-a alone: an opaque black outline stays sprite")
        << QStringList{"-a"} << P{opaqueBlack, clearRed, red} << P{black, white, black};
    QTest::newRow("white on black: --sprite-colour white -t black -m black")
        << QStringList{"--sprite-colour", "white", "-t", "black", "-m", "black"}
        << P{opaqueBlack, red} << P{black, white};
    QTest::newRow("the mask colour defaults to the sprite colour's opposite")
        << QStringList{"-a", "--sprite-colour", "red"} << P{clearRed, red} << P{cyan, red};
    // Several keys, fuzz and alpha, and every colour form, against the plain reference on
    // pixels near every edge.
    const auto rule = [](const char *tag, const QStringList &args, const QList<Colour> &keys,
                         int fuzz = 0, int alpha = -1) {
        const MaskRule rule{{keys.begin(), keys.end()}, fuzz, alpha, complement(keys.first())};
        P sprite = edgePixels(rule, 11), mask;
        for (const QRgb p : sprite)
            mask.append(ruleReference(p, rule));
        QTest::newRow(tag) << args << sprite << mask;
    };
    rule("two keys", {"-t", "102030", "-t", "#FFF"}, {0x302010, 0xFFFFFF});
    rule("fuzz 5", {"-t", "80,80,80", "-f", "5"}, {0x505050}, 5);
    rule("-a with -t: either rule", {"-a", "-t", "black"}, {Black}, 0, 0);
    rule("alpha 100, or a key within 2",
         {"--alpha=100", "-t", "red", "--fuzz", "2", "-t", "0000ff"}, {0x0000FF, 0xFF0000}, 2, 100);
    const auto t = [](const char *text) { return QStringList{"-t", text}; };
    rule("RRGGBB", t("FF8000"), {0x0080FF});
    rule("#rrggbb", t("#ff8000"), {0x0080FF});
    rule("R,G,B with leading zeros", t("000,7,255"), {0xFF0700});
    rule("name", t("orange"), {0x00A5FF});
    rule("name in capitals", t("DarkSlateGray"), {0x4F4F2F});
    for (const char *bad : {"0x1234", "0xFF8000", "+FF8000", " FF8000", "FF8000 ", "FF 8000",
                            "255, 128, 0", "256,0,0", "-1,0,0", "1,2", "#12345", "#FF800080",
                            "FF80", "#", "", "nosuchcolour", "transparent", "#ff8000 "})
        QTest::newRow(qPrintable(QStringLiteral("refused '%1'").arg(bad))) << t(bad) << P{} << P{};
}

void TestCliOutputs::colours()
{
    QFETCH(QStringList, args);
    QFETCH(QList<QRgb>, sprite);
    QFETCH(QList<QRgb>, mask);
    const QImage picture(reinterpret_cast<const uchar *>(sprite.constData()), int(sprite.size()), 1,
                         QImage::Format_ARGB32);
    QVERIFY(sprite.isEmpty() || picture.save(file("c.png")));
    const Run r = maskCommand(args + QStringList{"c.png"});
    if (mask.isEmpty()) {
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains("bad transparency colour"), qPrintable(r.err));
        return;
    }
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QImage got = readPicture(file("c_mask.png"));
    for (int x = 0; x < got.width(); ++x)
        QCOMPARE(got.pixel(x, 0), mask[x]);
}

// The mask's content is what its name says: BMP for a BMP, PNG for anything else, and the
// depth and palette asked for.
void TestCliOutputs::kinds_data()
{
    QTest::addColumn<QString>("sprite");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("at");
    QTest::addColumn<QByteArray>("header"); // hex bytes at `at`
    const auto row = [](const char *tag, const char *sprite, const QStringList &args,
                        const char *mask, int at = 24, const char *header = "0103") {
        QTest::newRow(tag) << QString(sprite) << args << QString(mask) << at << QByteArray(header);
    };
    // BMP: bits per pixel on, then the palette (B, G, R, 0): mask colour, transparency colour.
    row("bmp", "s.bmp", {}, "s_mask.bmp", 28, "1800");
    row("BMP in capitals", "S.BMP", {}, "S_mask.BMP", 28, "1800");
    row("BMP, 1 bit", "s.bmp", {"--depth", "1"}, "s_mask.bmp", 28,
        "0100 00000000 1c000000 c40e0000c40e0000 0200000002000000 00ff0000 30201000");
    // PNG: IHDR's bit depth and colour type on; for 1 bit the palette follows at once, the
    // mask colour first (R, G, B).
    row("png, 1 bit unless told", "p.png", {}, "p_mask.png", 24,
        "0103000000e9be5559 00000006 504c5445 00ff00 102030");
    row("gif", "g.gif", {}, "g_mask.png");
    row("jpeg", "j.jpg", {}, "j_mask.png");
    row("tga", "t.tga", {}, "t_mask.png");
    row("--format bmp for a png", "p.png", {"--format", "bmp"}, "p_mask.bmp", 28, "1800");
    row("--format png --depth 24 for a bmp", "s.bmp", {"--format", "png", "--depth", "24"},
        "s_mask.png", 24, "0802");
}

void TestCliOutputs::kinds()
{
    QFETCH(QString, sprite);
    QFETCH(QStringList, args);
    QFETCH(QString, mask);
    QFETCH(int, at);
    QFETCH(QByteArray, header);
    // With the transparency colour in it, and the others.
    const QImage picture = randomSprite(13, 7, 0x302010, 9);
    QVERIFY(sprite.endsWith("bmp", Qt::CaseInsensitive) ? (writeBmp(picture, file(sprite)), true)
                                                        : converted(picture, file(sprite)));
    const Run r =
        maskCommand(QStringList{"-t", "102030", "-m", "00ff00"} + args + QStringList{sprite});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(" -> " + file(mask)), qPrintable(r.out));
    const QByteArray bytes = readFile(file(mask)), want = QByteArray::fromHex(header);
    QVERIFY(
        bytes.startsWith(mask.endsWith("bmp", Qt::CaseInsensitive) ? bmpSignature : pngSignature));
    QCOMPARE(bytes.mid(at, want.size()).toHex(), want.toHex());
    const QImage pic = readPicture(file(sprite));
    QCOMPARE(readPicture(file(mask)), referenceMask(pic, pic.size(), 0x302010, 0x00FF00));
}

// Where masks and the log may land: an empty suffix with a folder of their own, and a log
// never over a file of the run nor onto anything but a file. And what --help says.
void TestCliOutputs::runs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // on either stream or in the log
    QTest::addColumn<QStringList>("made");
    QTest::newRow("-s '' -o: the sprites' names")
        << QStringList{"-s", "", "-o", "masks", "."} << 0 << "2 masked"
        << QStringList{"masks/p.png", "masks/s.bmp"};
    QTest::newRow("-s '' without -o")
        << QStringList{"-s", "", "."} << 2 << "an empty suffix needs --output-dir" << QStringList();
    QTest::newRow("-s '' -o the sprites' own folder")
        << QStringList{"-s", "", "-o", ".", "s.bmp"} << 1 << "would be written over a sprite"
        << QStringList();
    QTest::newRow("--log a sprite")
        << QStringList{"--log", "s.bmp", "."} << 2
        << "the log s.bmp would be written over the sprite" << QStringList();
    QTest::newRow("--log a mask of the run")
        << QStringList{"--log", "s_mask.bmp", "s.bmp"} << 2 << "over the mask" << QStringList();
    QTest::newRow("--log a sprite, through a linked folder")
        << QStringList{"--log", "link/s.bmp", "."} << 2 << "over the sprite" << QStringList();
    QTest::newRow("--log a folder")
        << QStringList{"--log", "sub", "."} << 2 << "not a regular file" << QStringList();
    QTest::newRow("--dry-run --log")
        << QStringList{"--dry-run", "--log", "run.log", "."} << 0
        << "would be masked; mask saved as '%1/s_mask.bmp'" << QStringList{"run.log"};
    QTest::newRow("--help: -a's value is optional")
        << QStringList{"--help"} << 0 << "\n  -a, --alpha[=N]              A pixel whose alpha"
        << QStringList();
}

void TestCliOutputs::runs()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, said);
    QFETCH(QStringList, made);
    const QByteArray sprite = readFile(file("s.bmp"));
    const Run r = maskCommand(args);
    QCOMPARE(r.code, code);
    const QString all = r.out + r.err + QString::fromUtf8(readFile(file("run.log")));
    QVERIFY2(all.contains(QString(said).replace("%1", m_dir->path())), qPrintable(all));
    QCOMPARE(readFile(file("s.bmp")), sprite);
    QStringList found = QDir().entryList({"*_mask*", "run.log"});
    for (const QString &m : QDir(file("masks")).entryList(QDir::Files))
        found.append("masks/" + m);
    QCOMPARE(found, made);
    for (const QString &m : made.filter("masks/"))
        QCOMPARE(readPicture(file(m)).size(), readPicture(file(QFileInfo(m).fileName())).size());
}

// "-": the mask of standard input's sprite on standard output, and nothing else there; the
// sprite through a pipe (kept in a scratch file) or a file (read where it is).
void TestCliOutputs::standardStreams_data()
{
    QTest::addColumn<QString>("sprite");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("signature"); // of standard output; empty: nothing
    QTest::addColumn<int>("bits");             // of the mask's pixels
    QTest::addColumn<QString>("said");         // on standard error
    const auto row = [](const char *tag, const char *sprite, const QStringList &args, int code,
                        const QByteArray &signature, int bits, const char *said = "") {
        for (const char *how : {"pipe", "file"})
            QTest::newRow(qPrintable(QString("%1, %2").arg(tag, how)))
                << QString(how) + ":" + sprite << args << code << signature << bits
                << QString(said);
    };
    row("png in, png out", "p.png", {}, 0, pngSignature, 1);
    row("bmp in, bmp out", "s.bmp", {}, 0, bmpSignature, 24);
    row("--format png", "s.bmp", {"--format", "png"}, 0, pngSignature, 1);
    row("--depth 24, png in", "p.png", {"--depth", "24"}, 0, pngSignature, 24);
    row("damaged", "junk", {}, 1, {}, 0, "failed -: ");
    row("with another sprite", "s.bmp", {"p.png"}, 2, {}, 0);
    // Standard output carries the mask: what a dry run would do is said on standard error.
    row("--dry-run", "s.bmp", {"--dry-run"}, 0, {}, 0, "would mask - -> -");
}

void TestCliOutputs::standardStreams()
{
    QFETCH(QString, sprite);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QByteArray, signature);
    QFETCH(int, bits);
    QFETCH(QString, said);
    writeFile(file("junk"), "BM but no bitmap");
    const QString how = sprite.section(':', 0, 0);
    sprite = sprite.section(':', 1);
    // Standard output into a file, as a pipe's bytes, never through text.
    const QString run = "\"$0\" \"${@:2}\" - > out";
    const Run r = shell(how == "pipe" ? "cat \"$1\" | " + run : run + " < \"$1\"",
                        QStringList{sprite} + args);
    QCOMPARE(r.code, code);
    QVERIFY2(r.err.contains(said), qPrintable(r.err));
    const QByteArray out = readFile(file("out"));
    if (signature.isEmpty()) {
        QCOMPARE(out, QByteArray());
        return;
    }
    QVERIFY2(out.startsWith(signature), qPrintable(r.err));
    const int outBits = signature == pngSignature ? (out[25] == 2 ? 24 : out[24]) : out[28];
    QCOMPARE(outBits, bits);
    const QImage pic = readPicture(file(sprite));
    QCOMPARE(decodePicture(out, "out"), referenceMask(pic, pic.size(), Black, White));
    QCOMPARE(QDir().entryList({"*_mask*"}), QStringList());
}

// --json: an object a file, in the order of the lines for people, then the summary's, and
// nothing else on standard output. Each file object is shown here as "outcome sprite ->
// mask #number label", its size checked against the mask's.
void TestCliOutputs::json_data()
{
    QTest::addColumn<QString>("setup"); // bash
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("summary"); // the counts, as the object has them
    const char *junk = "echo BM junk >junk.bmp; cp s.bmp old_mask.bmp; cp p.png p_mask.png";
    QTest::newRow("every outcome of a run")
        << junk << "-j2 s.bmp p.png junk.bmp none.bmp old_mask.bmp" << 1
        << QStringList{"left out old_mask.bmp -> null #null null",
                       "failed none.bmp -> null #53 File not found",
                       "masked s.bmp -> s_mask.bmp #null null",
                       "kept p.png -> p_mask.png #null null",
                       "failed junk.bmp -> junk_mask.bmp #480 Damaged picture"}
        << "\"masked\":1,\"kept\":1,\"upToDate\":0,\"failed\":2,\"leftOut\":1,\"notStarted\":0";
    QTest::newRow("-u, --dry-run")
        << "cp p.png p_mask.png; touch -d 2020-01-01 p.png"
        << "-u --dry-run -q s.bmp p.png" << 0
        << QStringList{"would mask s.bmp -> s_mask.bmp #null null",
                       "up to date p.png -> p_mask.png #null null"}
        << "\"masked\":1,\"kept\":0,\"upToDate\":1,\"failed\":0,\"leftOut\":0,\"notStarted\":0";
}

void TestCliOutputs::json()
{
    QFETCH(QString, setup);
    QFETCH(QString, args);
    QFETCH(int, code);
    QFETCH(QStringList, files);
    QFETCH(QString, summary);
    const Run r = shell(setup + " && \"$0\" --json " + args);
    QCOMPARE(r.code, code);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QStringList got;
    for (const QString &line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        QVERIFY2(!o.isEmpty(), qPrintable(line));
        if (o["type"] == "summary")
            continue;
        const auto name = [](const QJsonValue &v) {
            return v.isNull() ? QStringLiteral("null") : QFileInfo(v.toString()).fileName();
        };
        const QJsonValue error = o["error"].toObject()["number"];
        got.append(QStringLiteral("%1 %2 -> %3 #%4 %5")
                       .arg(o["outcome"].toString(), name(o["sprite"]), name(o["mask"]),
                            error.isNull() ? "null" : QString::number(error.toInt()),
                            o["error"].toObject()["label"].toString("null")));
        const bool written =
            QStringList{"masked", "kept", "up to date"}.contains(o["outcome"].toString());
        QCOMPARE(o["size"].isNull(), !written);
        if (written)
            QCOMPARE(o["size"].toInteger(), QFileInfo(o["mask"].toString()).size());
        QVERIFY(o["seconds"].isDouble());
    }
    QCOMPARE(got, files);
    QVERIFY2(lines.last().startsWith(QStringLiteral("{\"type\":\"summary\",")) &&
                 lines.last().contains(summary) &&
                 lines.last().endsWith(
                     QStringLiteral(",\"interrupted\":null,\"exitCode\":%1}").arg(code)),
             qPrintable(lines.last()));
}

// Names as their bytes: a byte that is no UTF-8 comes back through Python's surrogateescape,
// a line break stays in its line.
void TestCliOutputs::jsonNames()
{
    const Run r = shell("mkdir n && cp s.bmp n/$'h\\xe9ros.bmp' && cp s.bmp n/$'a\\nb.bmp' && "
                        "\"$0\" --json n | python3 -c 'import json, os, sys\n"
                        "for line in sys.stdin:\n"
                        "    o = json.loads(line)\n"
                        "    if o[\"type\"] == \"file\": print(os.fsencode(o[\"mask\"]))'");
    shell("rm -rf n"); // names QDir cannot remove
    QCOMPARE(r.code, 0);
    const QString n = m_dir->path() + "/n/";
    QCOMPARE(r.out, "b'" + n + "a\\nb_mask.bmp'\nb'" + n + "h\\xe9ros_mask.bmp'\n");
}

// The log's entry for standard input's sprite: masked, not loaded (the sprite's fault), or
// failed (the mask's: its scratch file or standard output).
void TestCliOutputs::standardInputLog_data()
{
    QTest::addColumn<QString>("script"); // $0 the command
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("entry");
    QTest::newRow("masked") << "\"$0\" --log run.log - < s.bmp > out" << 0
                            << "Image '-' masked successfully; mask saved as '-'.";
    QTest::newRow("not a picture, refused at its first bytes")
        << "echo hello, no picture here but words and more words | \"$0\" --log run.log - > out"
        << 1 << "Can't load '-'";
    QTest::newRow("damaged") << "printf 'BM but no bitmap' | \"$0\" --log run.log - > out" << 1
                             << "Can't load '-'";
    QTest::newRow("standard output full") << "\"$0\" --log run.log - < s.bmp > /dev/full" << 1
                                          << "An error occured while masking '-'";
    QTest::newRow("no scratch folder")
        << "cat s.bmp | TMPDIR=/nonexistent \"$0\" --log run.log - > out" << 1
        << "An error occured while masking '-'";
}

void TestCliOutputs::standardInputLog()
{
    QFETCH(QString, script);
    QFETCH(int, code);
    QFETCH(QString, entry);
    const Run r = shell(script);
    QCOMPARE(r.code, code);
    const QString log = QString::fromUtf8(readFile(file("run.log")));
    QVERIFY2(log.contains(entry), qPrintable(log + r.err));
    QCOMPARE(log.count("Image '-'") + log.count("Can't load '-'") + log.count("masking '-'"), 1);
}

// A stream is refused as soon as it cannot be a sprite, not read on (one that never ends
// would fill the scratch folder): at its first bytes when they are no picture's, at the end
// of the largest file its header's picture can be, or past the largest sprite the program
// takes when the header does not tell (1.1 GB here, so that a reader without the limit
// still ends).
void TestCliOutputs::endlessInput_data()
{
    QTest::addColumn<QString>("stream");
    QTest::addColumn<QString>("said");
    QTest::newRow("no picture") << "yes"
                                << "- is not a picture";
    QTest::newRow("a 4 x 4 BMP's header")
        << "{ printf "
           "'BM\\0\\0\\0\\0\\0\\0\\0\\0\\66\\0\\0\\0\\50\\0\\0\\0\\4\\0\\0\\0\\4\\0\\0\\0'; "
           "head -c 100000000 /dev/zero; }"
        << "more than the picture its header declares can take";
    QTest::newRow("no size in the header")
        << "{ printf '\\377\\330\\377\\340\\0\\20'; head -c 1100000000 /dev/zero; }"
        << "larger than any sprite the program takes";
}

void TestCliOutputs::endlessInput()
{
    QFETCH(QString, stream);
    QFETCH(QString, said);
    const Run r = shell(stream + " | exec \"$0\" - > out");
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(said), qPrintable(r.err));
    QCOMPARE(readFile(file("out")), QByteArray());
}

void TestCliOutputs::notOnATerminal()
{
    if (QStandardPaths::findExecutable("script").isEmpty())
        QSKIP("script(1) is not installed");
    const QString line = QStringLiteral("%1 - < s.bmp").arg(PELLORAN_MASK_BIN);
    const Run r = maskCommand({"-qec", line, "/dev/null"}, {}, QStringLiteral("script"));
    QCOMPARE(r.code, 2);
    QVERIFY2(r.out.contains("terminal"), qPrintable(r.out));
}

QTEST_GUILESS_MAIN(TestCliOutputs)
#include "tst_cli_outputs.moc"
