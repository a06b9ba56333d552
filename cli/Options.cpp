#include "Options.h"

#include "Console.h"
#include "MaskCommand.h"
#include "MaskRun.h"
#include "PictureIO.h"
#include "Version.h"

#include <QColor>
#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <QThread>

#include <cstdio>
#include <iterator>

namespace
{

enum Option {
    Transparency,
    MaskColour,
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
     "A background colour of the sprites (default 000000); may be given several times. "
     "RRGGBB, #RRGGBB, #RGB, R,G,B or a colour name.",
     "COLOUR"},
    {MaskColour, "m", "mask",
     "The mask colour (default: the first transparency colour's opposite).", "COLOUR"},
    {Fuzz, "f", "fuzz",
     "A pixel within N of a transparency colour in every channel is background (0 to 255, "
     "default 0).",
     "N"},
    {Alpha, "a", "alpha",
     "A pixel whose alpha is at most N is background (--alpha alone: 0). Only attached: "
     "--alpha=N or -aN.",
     "N", nullptr, "0"},
    {Suffix, "s", "suffix", "Added to each mask's name (default _mask).", "TEXT", "_mask"},
    {OutputDir, "o", "output-dir",
     "Write the masks into DIR, made when missing; with -r the folders under each given "
     "folder are kept.",
     "DIR"},
    {Format, nullptr, "format",
     "Mask files of this kind, named with its extension (default: BMP under the sprite's own "
     "extension).",
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
    {DryRun, nullptr, "dry-run", "Say what would be written; write nothing."},
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

// A number 0..255 in plain decimal digits; -1 for anything else.
int byteValue(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
    if (!digits.match(text).hasMatch())
        return -1;
    const int v = text.toInt();
    return v <= 255 ? v : -1;
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
    const QStringList keys =
        in.isSet(Transparency) ? in.values(Transparency) : QStringList{QStringLiteral("000000")};
    for (const QString &text : keys) {
        const Colour c = Options::parseColour(text);
        if (c == NoColour)
            return QStringLiteral("bad transparency colour '%1' (%2)").arg(text, colourForms);
        rule.keys.push_back(c);
    }
    if (rule.keys.size() > 16)
        return QStringLiteral("more than 16 transparency colours");
    rule.mask = in.isSet(MaskColour) ? Options::parseColour(in.value(MaskColour))
                                     : complement(rule.keys.front());
    if (rule.mask == NoColour)
        return QStringLiteral("bad mask colour '%1' (%2)").arg(in.value(MaskColour), colourForms);
    if (in.isSet(Fuzz) && (rule.fuzz = byteValue(in.value(Fuzz))) < 0)
        return QStringLiteral("bad fuzz '%1' (use 0 to 255)").arg(in.value(Fuzz));
    if (in.isSet(Alpha) && (rule.alpha = byteValue(in.value(Alpha))) < 0)
        return QStringLiteral("bad alpha '%1' (use 0 to 255)").arg(in.value(Alpha));
    return {};
}

QString readOutput(const Parsed &in, Options &o)
{
    o.suffix = in.value(Suffix);
    if (const QString problem = MaskRun::suffixProblem(o.suffix); !problem.isEmpty())
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
        o.job.kind.depth = in.value(Depth).toInt();
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
    return {};
}

} // namespace

int usageError(const QString &why)
{
    Console console;
    console.err(QStringLiteral("pelloran-mask: ") + why);
    console.err(QStringLiteral("Try 'pelloran-mask --help'."));
    return int(MaskCommand::BadUsage);
}

Colour Options::parseColour(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^#?([0-9A-Fa-f]{6})$"));
    static const QRegularExpression shortHex(QStringLiteral("^#([0-9A-Fa-f]{3})$"));
    static const QRegularExpression triple(QStringLiteral("^([0-9]+),([0-9]+),([0-9]+)$"));
    static const QRegularExpression name(QStringLiteral("^[A-Za-z]+$"));
    int r, g, b;
    if (const auto m = hex.match(text); m.hasMatch()) {
        const uint rgb = m.captured(1).toUInt(nullptr, 16);
        r = int(rgb >> 16), g = int((rgb >> 8) & 0xFF), b = int(rgb & 0xFF);
    } else if (const auto m = shortHex.match(text); m.hasMatch()) {
        const uint rgb = m.captured(1).toUInt(nullptr, 16);
        r = int(rgb >> 8) * 17, g = int((rgb >> 4) & 0xF) * 17, b = int(rgb & 0xF) * 17;
    } else if (const auto m = triple.match(text); m.hasMatch()) {
        r = byteValue(m.captured(1)), g = byteValue(m.captured(2)), b = byteValue(m.captured(3));
        if (r < 0 || g < 0 || b < 0)
            return NoColour;
    } else if (name.match(text).hasMatch() && QColor::isValidColor(text)) {
        const QColor c = QColor::fromString(text);
        if (c.alpha() != 255) // "transparent" is no colour a pixel can be compared with
            return NoColour;
        r = c.red(), g = c.green(), b = c.blue();
    } else {
        return NoColour;
    }
    return Colour(r | (g << 8) | (b << 16));
}

int Options::parse(const QStringList &arguments)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Writes the mask of each sprite: pixels of the background become the mask "
                       "colour, all others the transparency colour."));
    p.addPositionalArgument(QStringLiteral("FILE|FOLDER"), QStringLiteral("Sprites to mask."),
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
        std::fputs(qPrintable(p.helpText()), stdout);
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
