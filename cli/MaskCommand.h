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

    // "RRGGBB" or "#RRGGBB" as a colour (red in the low byte); -1 when it is neither.
    static Colour parseColour(const QString &text);

private:
    QStringList expand(const QStringList &inputs);
    // Adds the sprites of a folder, hidden ones included, by the names the file system has.
    void walk(const QByteArray &folder, QStringList &found);

    FileJob::Settings m_settings;
    bool m_recursive = false, m_dryRun = false, m_quiet = false;
    QString m_pattern;
    int m_jobs = 1;
    QString m_logFile;
    QHash<QString, QByteArray> m_lossyArguments;
    // Inputs that cannot be masked before anything is read: name and reason.
    QList<std::pair<QString, QString>> m_unreadable;
};
