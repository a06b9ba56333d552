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
    // `rawArguments` are the same as the system gave them (argv[0] not among them): when
    // given, they are used instead, so that a name that is not UTF-8 keeps its bytes.
    int run(const QStringList &arguments, const QList<QByteArray> &rawArguments = {});
};
