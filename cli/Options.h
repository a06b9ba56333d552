#pragma once

#include "FileJob.h"

#include <QString>
#include <QStringList>

#include <optional>

// What pelloran-mask was asked to do, read from its command line and checked: nothing here
// has touched a file yet.
struct Options {
    // The rule; `kind` is --format's (BMP when not given) and --depth's, the kind of a
    // mask written to standard output; files get theirs from the planner.
    FileJob::Settings job;
    QString suffix;
    QString formatGiven; // "bmp" or "png" with --format: the masks' extension
    int depthGiven = 0;  // --depth; 0: by the mask's kind (24 for BMP, 1 for PNG)
    QString outputDir;   // absolute and clean; empty: each mask beside its sprite
    QString pattern;     // the files a folder gives, as matchesPattern() takes it
    QString logFile;
    // --files-from, "-" for standard input. Only named here: the list is read with the
    // other inputs, and one that cannot be read is a wrong command line all the same.
    std::optional<QString> listFile;
    QStringList inputs; // the files and folders named, the list's after the command line's
    int jobs = 1;
    bool recursive = false, dryRun = false, quiet = false;
    bool overwrite = false, update = false, null = false;
    // The only input is "-": the sprite comes from standard input, its mask goes to
    // standard output (not a terminal).
    bool standardInput = false;
    bool watch = false; // --watch: see Watcher
    bool json = false;  // --json: JSON objects on standard output instead of lines

    // Reads `arguments` (argv[0] first). Returns -1 when the run goes on; otherwise the
    // exit code, after printing the help or the version, or the reason the command line
    // is wrong.
    int parse(const QStringList &arguments);

    // "RRGGBB", "#RRGGBB", "#RGB", "R,G,B" (0 to 255 each) or a colour name, as a colour
    // (red in the low byte); -1 for anything else, blanks and signs included.
    static Colour parseColour(const QString &text);
    // A number 0..255 in plain decimal digits; -1 for anything else.
    static int byteValue(const QString &text);
};

// Prints why the command line is wrong and where help is; returns the exit code for it.
int usageError(const QString &why);
