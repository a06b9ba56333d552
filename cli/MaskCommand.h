#pragma once

#include "FileJob.h"

#include <QHash>
#include <QStringList>

#include <utility>

// pelloran-mask: masks sprite files and folders from the command line with the same run
// as the window, several files at a time.
class MaskCommand
{
public:
    enum ExitCode { AllMasked = 0, SomeNotMasked = 1, BadUsage = 2 };

    // Parses the arguments (argv[0] first) and runs; returns the process's exit code.
    // `rawArguments` are the same as the system gave them: a name among them that is not
    // UTF-8 cannot be opened under the text Qt made of it, and is reported as failed.
    int run(const QStringList &arguments, const QList<QByteArray> &rawArguments = {});

    // "RRGGBB", "#RRGGBB", "#RGB", "R,G,B" (0 to 255 each) or a colour name, as a colour
    // (red in the low byte); -1 for anything else, blanks and signs included.
    static Colour parseColour(const QString &text);

private:
    // One sprite to mask: where it is, and the folder under the output folder its mask goes
    // to ("" beside the others).
    struct Input {
        QString sprite;
        QString subfolder;
    };
    // What is done with one sprite, decided before any file is read.
    struct Plan {
        enum State { Mask, UpToDate, Failed };
        QString sprite, mask, problem;
        State state = Mask;
        Existing existing = Existing::Keep;
    };

    int parse(const QStringList &arguments);
    QList<Input> expand(const QStringList &inputs);
    void addInput(const QString &input, QList<Input> &found);
    // Adds the sprites of a folder, hidden ones included, by the names the file system has.
    void walk(const QByteArray &folder, const QByteArray &subfolder, QList<Input> &found);
    QList<Plan> plan(const QList<Input> &inputs);
    bool readList(const QString &listName, QStringList &inputs);

    FileJob::Settings m_settings;
    QString m_suffix;
    bool m_recursive = false, m_dryRun = false, m_quiet = false;
    bool m_overwrite = false, m_update = false, m_null = false;
    QString m_pattern, m_outputDir, m_listFile;
    QString m_formatGiven; // "bmp" or "png" with --format: the masks' extension
    int m_jobs = 1;
    QString m_logFile;
    QStringList m_inputs;
    QHash<QString, QByteArray> m_lossyArguments;
    // Inputs that cannot be masked before anything is read: name and reason.
    QList<std::pair<QString, QString>> m_unreadable;
    // Files named like masks, given by name or in a list: not masked again.
    QStringList m_leftOut;
};
