#include "OptionTable.h"

#include <iterator>

namespace OptionTable
{

namespace
{

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
     "this counts. Only attached: --alpha=N or -aN, last in a bundle (-ra).",
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
    {Json, nullptr, "json",
     "Report each file and then the run as JSON objects on standard output, one a line."},
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

// The parser's help, with an optional value shown as such ("--alpha[=N]", as long as the
// "--alpha <N>" it prints, so the columns stay).
} // namespace

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

void addTo(QCommandLineParser &p, QList<QCommandLineOption> &options)
{
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
}

namespace
{

const OptionRow *shortRow(QChar c)
{
    for (const OptionRow &row : optionTable)
        if (row.shortName && c == QLatin1Char(row.shortName[0]))
            return &row;
    return nullptr;
}

const OptionRow *longRow(QStringView name)
{
    for (const OptionRow &row : optionTable)
        if (name == QLatin1String(row.longName))
            return &row;
    return nullptr;
}

QString attached(const OptionRow &row, const QString &value)
{
    return QStringLiteral("--%1=%2").arg(QLatin1String(row.longName),
                                         value.isEmpty() ? QLatin1String(row.aloneMeans) : value);
}

} // namespace

QStringList expanded(const QStringList &arguments)
{
    QStringList out = arguments.mid(0, 1);
    bool value = false; // the argument is the value of the option before it
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (std::exchange(value, false) || a.size() < 2 || a[0] != QLatin1Char('-')) {
            out.append(a);
        } else if (a == QLatin1String("--")) {
            out += arguments.mid(i);
            break;
        } else if (a.startsWith(QLatin1String("--"))) {
            const OptionRow *row = longRow(QStringView(a).mid(2));
            out.append(row && row->aloneMeans ? attached(*row, QString()) : a);
            value = row && row->valueName && !row->aloneMeans;
        } else {
            for (qsizetype k = 1; k < a.size(); ++k) {
                const OptionRow *row = shortRow(a[k]);
                out.append(QStringLiteral("-") + a[k]); // an unknown one, the parser names
                if (!row || !row->valueName)
                    continue;
                const QString rest = a.mid(k + 1);
                if (row->aloneMeans)
                    out.last() = attached(*row, rest);
                else if (!rest.isEmpty())
                    out.append(rest);
                else
                    value = true;
                break;
            }
        }
    }
    return out;
}

} // namespace OptionTable
