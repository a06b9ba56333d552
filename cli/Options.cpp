#include "Options.h"

#include "MaskCommand.h"
#include "MaskRun.h"
#include "PictureIO.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QDir>
#include <QThread>

#include <cstdio>
#include <iterator>
#include <unistd.h>

namespace
{

enum Option {
    Transparency,
    MaskColour,
    SpriteColour,
    Fuzz,
    Alpha,
    Suffix,
    OutputDir,
    Format,
    Depth,
    Recursive,
    Pattern,
    FilesFrom,
    Null,
    Update,
    Overwrite,
    Jobs,
    Log,
    DryRun,
    Quiet,
    Watch,
    ShowHelp,
    ShowVersion,
    OptionCount
};

struct OptionRow {
    Option id;
    const char *shortName; // nullptr: none
    const char *longName;
    const char *description;
    const char *valueName = nullptr; // nullptr: a switch
    const char *defaultValue = nullptr;
    // Set for an option whose value is taken only attached ("--alpha=N", "-aN"), as
    // optional values are everywhere: alone it stands for this value, and the argument
    // after it stays a file.
    const char *aloneMeans = nullptr;
};

// The only list of the options, in the help's order. Both the parser's options and which
// arguments take the next one as their value come from it.
constexpr OptionRow optionTable[] = {
    {Transparency, "t", "transparency",
     "A background colour of the sprites (default 000000, none with -a alone); may be given "
     "several times. RRGGBB, #RRGGBB, #RGB, R,G,B or a colour name.",
     "COLOUR"},
    {MaskColour, "m", "mask", "The mask colour (default: the sprite colour's opposite).", "COLOUR"},
    {SpriteColour, nullptr, "sprite-colour",
     "The colour of the sprite's own pixels in the mask (default: the first transparency "
     "colour; black with -a alone).",
     "COLOUR"},
    {Fuzz, "f", "fuzz",
     "A pixel within N of a transparency colour in every channel is background (0 to 255, "
     "default 0).",
     "N"},
    {Alpha, "a", "alpha",
     "A pixel whose alpha is at most N is background (--alpha alone: 0). Without -t only "
     "this counts. Only attached: --alpha=N or -aN.",
     "N", nullptr, "0"},
    {Suffix, "s", "suffix", "Added to each mask's name (default _mask; may be empty with -o).",
     "TEXT", "_mask"},
    {OutputDir, "o", "output-dir",
     "Write the masks into DIR, made when missing; with -r the folders under each given "
     "folder are kept.",
     "DIR"},
    {Format, nullptr, "format",
     "Mask files of this kind for every sprite, named with its extension (default: BMP for "
     "*.bmp, PNG for any other sprite, by the name's extension).",
     "bmp|png"},
    {Depth, nullptr, "depth", "Bits per pixel of the masks (default: 24 for BMP, 1 for PNG).",
     "1|24"},
    {Recursive, "r", "recursive", "Look into the folders' folders too."},
    {Pattern, nullptr, "pattern",
     "Files of a folder to take (default: every picture the program reads); may be given "
     "several times.",
     "GLOB"},
    {FilesFrom, nullptr, "files-from",
     "Read more sprite names from FILE (- for standard input), one a line.", "FILE"},
    {Null, "0", "null", "Names in --files-from end with NUL, not newline."},
    {Update, "u", "update", "Replace a mask only when its sprite is newer."},
    {Overwrite, nullptr, "overwrite", "Replace masks that already exist."},
    {Jobs, "j", "jobs", "Files masked at the same time (default: cores).", "N"},
    {Log, nullptr, "log", "Write the run's log to FILE.", "FILE"},
    {DryRun, nullptr, "dry-run", "Say what would be written; write nothing but the log."},
    {Quiet, "q", "quiet", "Report failures only."},
    {Watch, nullptr, "watch",
     "Then keep watching the sprites and folders named, and mask each sprite saved, until "
     "Ctrl-C."},
    {ShowHelp, "h", "help", "Show this help."},
    {ShowVersion, "v", "version", "Show the version."},
};
constexpr bool rowsInIdOrder()
{
    for (size_t i = 0; i < std::size(optionTable); ++i)
        if (optionTable[i].id != Option(i))
            return false;
    return std::size(optionTable) == OptionCount;
}
static_assert(rowsInIdOrder(), "the rows are looked up by their ids");

// The row of the option that the argument is exactly, as typed; nullptr for anything else.
const OptionRow *rowSpelled(const QString &argument)
{
    for (const OptionRow &row : optionTable)
        if ((row.shortName && argument == QLatin1Char('-') + QLatin1String(row.shortName)) ||
            argument == QLatin1String("--") + QLatin1String(row.longName))
            return &row;
    return nullptr;
}

// Rewrites an option whose value is taken only attached, given alone, as "--name=value", so
// that the parser, which would take the next argument as its value, leaves that argument a
// file. An argument that is the value of the option before it (such as the "-a" of
// "-s -a") is left as it is.
QStringList withAttachedValues(const QStringList &arguments)
{
    QStringList out;
    bool value = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--")) {
            out += arguments.mid(i);
            break;
        }
        const OptionRow *row = value ? nullptr : rowSpelled(a);
        const bool alone = row && i > 0 && row->aloneMeans;
        out.append(alone ? QStringLiteral("--%1=%2").arg(QLatin1String(row->longName),
                                                         QLatin1String(row->aloneMeans))
                         : a);
        value = row && row->valueName && !row->aloneMeans;
    }
    return out;
}

// The parser's help, with an optional value shown as such ("--alpha[=N]", as long as the
// "--alpha <N>" it prints, so the columns stay).
QString helpText(const QCommandLineParser &p)
{
    QString text = p.helpText();
    for (const OptionRow &row : optionTable)
        if (row.aloneMeans)
            text.replace(QStringLiteral("--%1 <%2>")
                             .arg(QLatin1String(row.longName), QLatin1String(row.valueName)),
                         QStringLiteral("--%1[=%2]")
                             .arg(QLatin1String(row.longName), QLatin1String(row.valueName)));
    return text;
}

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
        return QStringLiteral("bad alpha '%1' (use 0 to 255)").arg(in.value(Alpha));
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
    o.dryRun = in.isSet(DryRun);
    o.quiet = in.isSet(Quiet);
    o.watch = in.isSet(Watch);
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
    for (const OptionRow &row : optionTable) {
        QStringList names{QString::fromLatin1(row.longName)};
        if (row.shortName)
            names.prepend(QString::fromLatin1(row.shortName));
        QCommandLineOption option(names, QString::fromUtf8(row.description));
        if (row.valueName)
            option.setValueName(QString::fromLatin1(row.valueName));
        if (row.defaultValue)
            option.setDefaultValue(QString::fromLatin1(row.defaultValue));
        p.addOption(option);
        options.append(option);
    }
    const Parsed in{p, options};

    if (!p.parse(withAttachedValues(arguments)))
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
