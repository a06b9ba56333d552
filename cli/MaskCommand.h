#pragma once

#include "Options.h"

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

    QList<Input> expand(const QStringList &inputs);
    void addInput(const QString &input, QList<Input> &found);
    // Adds the sprites of a folder, hidden ones included, by the names the file system has.
    void walk(const QByteArray &folder, const QByteArray &subfolder, QList<Input> &found);
    QList<Plan> plan(const QList<Input> &inputs);
    bool readList(const QString &listName, QStringList &inputs);

    Options m_options;
    QHash<QString, QByteArray> m_lossyArguments;
    // Inputs that cannot be masked before anything is read: name and reason.
    QList<std::pair<QString, QString>> m_unreadable;
    // Files named like masks, given by name or in a list: not masked again.
    QStringList m_leftOut;
};
