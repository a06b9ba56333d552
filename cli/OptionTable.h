#pragma once

#include <QCommandLineParser>
#include <QList>
#include <QStringList>

// pelloran-mask's options: one table gives the parser its options, the help its lines, and
// the command line's bundles of short options their reading.
namespace OptionTable
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
    Json,
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

// Adds every option of the table to `p`, in the table's order, and appends each to `options`
// (so that options[id] is the option of that id).
void addTo(QCommandLineParser &p, QList<QCommandLineOption> &options);

// The arguments as the parser takes them, one option each, read as getopt reads them: a
// bundle of short options ("-rq") is split; an option that takes a value takes the rest of
// its bundle ("-j2", "-qa50") or the next argument; one whose value is optional (-a) takes
// only the rest of its bundle, so "-ra" and "-a" alone leave the next argument a file.
// Nothing after "--" is an option. argv[0] comes first and stays.
QStringList expanded(const QStringList &arguments);

// The parser's help, with an optional value shown as such ("--alpha[=N]").
QString helpText(const QCommandLineParser &p);

} // namespace OptionTable
