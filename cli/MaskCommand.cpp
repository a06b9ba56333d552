#include "MaskCommand.h"

#include "BatchRunner.h"
#include "Console.h"
#include "FileOps.h"
#include "Interruption.h"
#include "MaskPlanner.h"
#include "Options.h"
#include "PictureIO.h"
#include "RunError.h"
#include "SpriteFinder.h"
#include "StreamMask.h"
#include "Watcher.h"
#include "clsDebug.h"

#include <QElapsedTimer>

#include <csignal>
#include <optional>

namespace
{

// Written whole; one that cannot be written counts as a failure, since the run did not give
// what was asked.
int writeLog(const Options &options, const clsDebug &log, Console &console)
{
    if (options.logFile.isEmpty())
        return 0;
    try {
        writeFileWhole(options.logFile, log.GetHistory().toUtf8());
        return 0;
    } catch (const RunError &e) {
        console.err(QStringLiteral("pelloran-mask: the log could not be written: ") +
                    e.description());
        return 1;
    }
}

// The entries a run would give, so that a dry run's log shows what it would do.
void logDryRun(const QList<Plan> &plans, clsDebug &log)
{
    for (const Plan &p : plans)
        log.Print_(
            p.state == Plan::Mask ? QStringLiteral("Dry run: image '%1' would be masked; "
                                                   "mask saved as '%2'.")
                                        .arg(p.sprite, p.mask)
            : p.state == Plan::Kept
                ? QStringLiteral("Dry run: mask '%1' of '%2' exists and is kept.")
                      .arg(p.mask, p.sprite)
            : p.state == Plan::UpToDate
                ? QStringLiteral("Dry run: mask '%1' of '%2' is up to date.").arg(p.mask, p.sprite)
                : QStringLiteral("Dry run: image '%1' would fail: %2.").arg(p.sprite, p.problem));
}

// The summary on standard error (and with --json its object on standard output); returns
// the exit code. A reader of standard output gone ends the run as quietly as a closed pipe
// ends GNU tools.
int summary(const Options &options, BatchRunner &runner, BatchRunner::Tally tally,
            const clsDebug &log, const QElapsedTimer &clock, Console &console)
{
    tally.failed += writeLog(options, log, console);
    const int signal = Interruption::signal();
    const QString counts =
        QStringLiteral("%1 %2, %3 kept, %4 up to date, %5 failed")
            .arg(tally.masked)
            .arg(options.dryRun ? QStringLiteral("to mask") : QStringLiteral("masked"))
            .arg(tally.kept)
            .arg(tally.upToDate)
            .arg(tally.failed);
    const QString dry = options.dryRun ? QStringLiteral("dry run: ") : QString();
    const int code = signal         ? 128 + signal // the shell's status for a command ended by it
                     : tally.failed ? int(MaskCommand::SomeNotMasked)
                                    : int(MaskCommand::AllMasked);
    if (signal && signal != SIGPIPE)
        console.err(QStringLiteral("pelloran-mask: interrupted by %1: %2%3, %4 not started")
                        .arg(Interruption::signalName(signal), dry, counts)
                        .arg(tally.notStarted));
    else if (!signal && !options.quiet)
        console.err(QStringLiteral("pelloran-mask: ") + dry + counts +
                    (options.dryRun
                         ? QString()
                         : QStringLiteral(" in %1 s").arg(clock.elapsed() / 1000.0, 0, 'f', 1)));
    runner.reportSummary(tally, clock.elapsed() / 1000.0, signal, code);
    console.clearBar();
    return code;
}

} // namespace

int MaskCommand::run(const QStringList &arguments, const QList<QByteArray> &rawArguments)
{
    // Qt's text of an argument that is not UTF-8 names no file: the bytes are kept instead.
    QStringList exact{arguments.value(0)};
    for (const QByteArray &raw : rawArguments)
        exact.append(fileNameFromBytes(raw));
    Options options;
    if (const int code = options.parse(rawArguments.isEmpty() ? arguments : exact); code >= 0)
        return code;
    if (options.standardInput) {
        Interruption::install(); // before anything is read: no scratch file is left behind
        Console console;
        clsDebug log;
        if (const QString problem = MaskPlanner(options).logProblem(options.logFile, {});
            !options.logFile.isEmpty() && !problem.isEmpty())
            return usageError(problem);
        const int code = maskStandardInput(options, console, log);
        return writeLog(options, log, console) ? int(SomeNotMasked) : code;
    }
    SpriteFinder finder(options);
    if (options.listFile)
        if (const QString why = finder.readList(*options.listFile, options.inputs); !why.isEmpty())
            return usageError(
                QStringLiteral("cannot read the list '%1': %2").arg(*options.listFile, why));

    Interruption::install();
    // Watching starts before the first pass, so that a sprite saved during it is not missed.
    std::optional<Watcher> watcher;
    if (options.watch)
        watcher.emplace(options);
    QElapsedTimer clock;
    clock.start();
    const QList<SpriteFinder::Input> inputs = finder.expand(options.inputs);
    MaskPlanner planner(options);
    QList<Plan> plans = planner.plan(finder.refused(), inputs);
    if (!options.logFile.isEmpty())
        if (const QString problem = planner.logProblem(options.logFile, plans); !problem.isEmpty())
            return usageError(problem);
    planner.makeFolders(plans);

    Console console;
    if (!options.quiet)
        for (const QString &folder : finder.emptyFolders())
            console.err(QStringLiteral("pelloran-mask: warning: no sprites in %1%2")
                            .arg(folder, options.pattern == pictureFilePattern()
                                             ? QString()
                                             : QStringLiteral(" matching ") + options.pattern));
    BatchRunner runner(options, plans, console);
    runner.reportLeftOut(planner.leftOut());
    BatchRunner::Tally tally;
    clsDebug log;
    if (options.dryRun) {
        logDryRun(plans, log);
        tally = runner.dryRun();
    } else {
        removeOrphanedParts(plans, console);
        tally = runner.run(log, clock);
    }
    tally.leftOut = int(planner.leftOut().size());
    const int code = summary(options, runner, tally, log, clock, console);
    // A first pass ended by a signal ends the command: no watch begins.
    return watcher && !Interruption::signal() ? watcher->run(log, console) : code;
}
