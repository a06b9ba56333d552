#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

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
};
