#include "Options.h"

#include "MaskCommand.h"
#include "MaskRun.h"
#include "OptionTable.h"
#include "PictureIO.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QDir>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace
{

using namespace OptionTable;

// The parsed command line, looked up by the table's ids.
struct Parsed {
    const QCommandLineParser &p;
    const QList<QCommandLineOption> &options;
    bool isSet(Option id) const { return p.isSet(options[id]); }
    QString value(Option id) const { return p.value(options[id]); }
    QStringList values(Option id) const { return p.values(options[id]); }
};

// Each reader takes a share of the options and returns why the command line is wrong, or
// nothing. They run in this order, which decides which of several mistakes is reported.

const QString colourForms = QStringLiteral("use RRGGBB, #RRGGBB, #RGB, R,G,B or a colour name");

QString readRule(const Parsed &in, MaskRule &rule)
{
    rule.keys.clear();
    // -a alone asks for the alpha channel instead of the colour key: an opaque black outline
    // stays the sprite's.
    const QStringList keys = in.isSet(Transparency) ? in.values(Transparency)
                             : in.isSet(Alpha)      ? QStringList()
                                                    : QStringList{QStringLiteral("000000")};
    for (const QString &text : keys) {
        const Colour c = Options::parseColour(text);
        if (c == NoColour)
            return QStringLiteral("bad transparency colour '%1' (%2)").arg(text, colourForms);
        rule.keys.push_back(c);
    }
    if (rule.keys.size() > 16)
        return QStringLiteral("more than 16 transparency colours");
    if (in.isSet(SpriteColour) &&
        (rule.sprite = Options::parseColour(in.value(SpriteColour))) == NoColour)
        return QStringLiteral("bad sprite colour '%1' (%2)")
            .arg(in.value(SpriteColour), colourForms);
    rule.mask = in.isSet(MaskColour) ? Options::parseColour(in.value(MaskColour))
                                     : complement(rule.transparent());
    if (rule.mask == NoColour)
        return QStringLiteral("bad mask colour '%1' (%2)").arg(in.value(MaskColour), colourForms);
    if (in.isSet(Fuzz) && (rule.fuzz = Options::byteValue(in.value(Fuzz))) < 0)
        return QStringLiteral("bad fuzz '%1' (use 0 to 255)").arg(in.value(Fuzz));
    if (in.isSet(Alpha) && (rule.alpha = Options::byteValue(in.value(Alpha))) < 0)
        return QStringLiteral("bad alpha '%1' (use 0 to 255, attached: -a50 or --alpha=50; in a "
                              "bundle -a comes last, as in -ra)")
            .arg(in.value(Alpha));
    return {};
}

QString readOutput(const Parsed &in, Options &o)
{
    // Without an output folder an empty suffix puts masks on their sprites, or beside them
    // under names the next run takes for sprites; with one, only a mask that would land on a
    // sprite is refused, file by file.
    o.suffix = in.value(Suffix);
    if (o.suffix.isEmpty() && !in.isSet(OutputDir))
        return QStringLiteral("an empty suffix needs --output-dir (-o): masks would be "
                              "written over their sprites");
    if (const QString problem = MaskRun::suffixProblem(o.suffix);
        !o.suffix.isEmpty() && !problem.isEmpty())
        return problem;
    if (in.isSet(Format)) {
        o.formatGiven = in.value(Format);
        if (o.formatGiven != QLatin1String("bmp") && o.formatGiven != QLatin1String("png"))
            return QStringLiteral("bad format '%1' (use bmp or png)").arg(o.formatGiven);
        o.job.kind.format =
            o.formatGiven == QLatin1String("png") ? MaskFormat::Png : MaskFormat::Bmp;
    }
    if (in.isSet(Depth)) {
        if (in.value(Depth) != QLatin1String("1") && in.value(Depth) != QLatin1String("24"))
            return QStringLiteral("bad depth '%1' (use 1 or 24)").arg(in.value(Depth));
        o.depthGiven = o.job.kind.depth = in.value(Depth).toInt();
    } else if (o.job.kind.format == MaskFormat::Png) {
        // A mask has two colours: a PNG of two palette entries shows the same pixels as
        // one of 24 bits, in a tenth of the bytes to compress and write.
        o.job.kind.depth = 1;
    }
    if (in.isSet(OutputDir)) {
        if (in.value(OutputDir).isEmpty())
            return QStringLiteral("the output folder's name is empty");
        o.outputDir = QDir::cleanPath(QDir::current().absoluteFilePath(in.value(OutputDir)));
    }
    o.overwrite = in.isSet(Overwrite);
    o.update = in.isSet(Update);
    if (o.overwrite && o.update)
        return QStringLiteral("--update and --overwrite exclude each other");
    return {};
}

QString readRun(const Parsed &in, Options &o)
{
    o.recursive = in.isSet(Recursive);
    o.pattern =
        in.isSet(Pattern) ? in.values(Pattern).join(QLatin1Char(';')) : pictureFilePattern();
    o.jobs = QThread::idealThreadCount();
    if (in.isSet(Jobs)) {
        bool ok = false;
        o.jobs = in.value(Jobs).toInt(&ok);
        if (!ok || o.jobs < 1)
            return QStringLiteral("bad number of jobs '%1'").arg(in.value(Jobs));
    }
    o.logFile = in.value(Log);
    if (o.logFile == QLatin1String("-"))
        return QStringLiteral("--log writes a file, never standard output; for a file called -, "
                              "give ./-");
    o.dryRun = in.isSet(DryRun);
    o.quiet = in.isSet(Quiet);
    o.watch = in.isSet(Watch);
    o.json = in.isSet(Json);
    o.null = in.isSet(Null);
    o.inputs = in.p.positionalArguments();
    if (in.isSet(FilesFrom))
        o.listFile = in.value(FilesFrom);
    else if (o.null)
        return QStringLiteral("--null is for lists read with --files-from");
    if (o.inputs.isEmpty() && !o.listFile)
        return QStringLiteral("no sprite files or folders given");
    // "-" is one sprite read from standard input, its mask written to standard output: with
    // other inputs the masks' lines and the mask's bytes would share one stream.
    if (o.inputs.contains(QStringLiteral("-"))) {
        if (o.watch)
            return QStringLiteral("--watch cannot watch standard input ('-')");
        if (o.json)
            return QStringLiteral("--json reports on standard output, where '-' writes its "
                                  "mask");
        if (o.inputs.size() > 1 || o.listFile)
            return QStringLiteral("'-' (standard input) must be the only sprite; name a file "
                                  "called - as ./-");
        if (isatty(STDOUT_FILENO))
            return QStringLiteral("'-' writes the mask to standard output, which is a "
                                  "terminal; redirect it to a file or a pipe");
        o.standardInput = true;
    }
    return {};
}

} // namespace

int Options::parse(const QStringList &arguments)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Writes the mask of each sprite: pixels of the background become the mask "
                       "colour, all others the sprite colour."));
    p.addPositionalArgument(
        QStringLiteral("FILE|FOLDER"),
        QStringLiteral("Sprites to mask; - alone: standard input, its mask to standard output."),
        QStringLiteral("FILE|FOLDER..."));
    QList<QCommandLineOption> options;
    addTo(p, options);
    const Parsed in{p, options};

    if (!p.parse(expanded(arguments)))
        return usageError(p.errorText());
    if (in.isSet(ShowHelp)) {
        std::fputs(qPrintable(helpText(p)), stdout);
        return MaskCommand::AllMasked;
    }
    if (in.isSet(ShowVersion)) {
        std::printf("pelloran-mask %d.%d.%d\n", ProgramVersion.major, ProgramVersion.minor,
                    ProgramVersion.revision);
        return MaskCommand::AllMasked;
    }
    QString why = readRule(in, job.rule);
    if (why.isEmpty())
        why = readOutput(in, *this);
    if (why.isEmpty())
        why = readRun(in, *this);
    return why.isEmpty() ? -1 : usageError(why);
}
