#pragma once

#include "FileJob.h"

#include <QStringList>

// pelloran-mask: masks sprite files and folders from the command line with the same run
// as the window, several files at a time.
class MaskCommand
{
public:
    enum ExitCode { AllMasked = 0, SomeNotMasked = 1, BadUsage = 2 };

    // Parses the arguments (argv[0] first) and runs; returns the process's exit code.
    int run(const QStringList &arguments);

    // "RRGGBB" or "#RRGGBB" as a colour (red in the low byte); -1 when it is neither.
    static Colour parseColour(const QString &text);

private:
    QStringList expand(const QStringList &inputs, int &missing);

    FileJob::Settings m_settings;
    bool m_recursive = false, m_dryRun = false, m_quiet = false;
    QString m_pattern;
    int m_jobs = 1;
    QString m_logFile;
};
