#include "MaskCommand.h"

#include "BatchRunner.h"
#include "Console.h"
#include "FileOps.h"
#include "Interruption.h"
#include "MaskPlanner.h"
#include "Options.h"
#include "RunError.h"
#include "SpriteFinder.h"
#include "StreamMask.h"
#include "Watcher.h"
#include "clsDebug.h"

#include <QElapsedTimer>

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
            : p.state == Plan::UpToDate
                ? QStringLiteral("Dry run: mask '%1' of '%2' is up to date.").arg(p.mask, p.sprite)
                : QStringLiteral("Dry run: image '%1' would fail: %2.").arg(p.sprite, p.problem));
}

int dryRunSummary(const Options &options, BatchRunner::Tally tally, const clsDebug &log,
                  Console &console)
{
    tally.failed += writeLog(options, log, console);
    if (const int signal = Interruption::signal()) {
        console.err(QStringLiteral("pelloran-mask: interrupted by %1: dry run: %2 to mask, %3 up "
                                   "to date, %4 failed, %5 not started")
                        .arg(Interruption::signalName(signal))
                        .arg(tally.masked)
                        .arg(tally.upToDate)
                        .arg(tally.failed)
                        .arg(tally.notStarted));
        return 128 + signal;
    }
    if (!options.quiet)
        console.err(QStringLiteral("pelloran-mask: dry run: %1 to mask, %2 up to date, %3 failed")
                        .arg(tally.masked)
                        .arg(tally.upToDate)
                        .arg(tally.failed));
    return tally.failed ? MaskCommand::SomeNotMasked : MaskCommand::AllMasked;
}

int summary(const Options &options, const BatchRunner::Tally &tally, const clsDebug &log,
            const QElapsedTimer &clock, Console &console)
{
    const int failed = tally.failed + writeLog(options, log, console);
    if (const int signal = Interruption::signal()) {
        console.err(QStringLiteral("pelloran-mask: interrupted by %1: %2 masked, %3 up to date, "
                                   "%4 failed, %5 not started")
                        .arg(Interruption::signalName(signal))
                        .arg(tally.masked)
                        .arg(tally.upToDate)
                        .arg(failed)
                        .arg(tally.notStarted));
        console.clearBar();
        return 128 + signal; // the shell's status for a command ended by the signal
    }
    if (!options.quiet)
        console.err(QStringLiteral("pelloran-mask: %1 masked, %2 up to date, %3 failed in %4 s")
                        .arg(tally.masked)
                        .arg(tally.upToDate)
                        .arg(failed)
                        .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    console.clearBar();
    return failed ? MaskCommand::SomeNotMasked : MaskCommand::AllMasked;
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
    BatchRunner runner(options, plans, console);
    runner.reportLeftOut(planner.leftOut());
    clsDebug log;
    int code;
    if (options.dryRun) {
        logDryRun(plans, log);
        code = dryRunSummary(options, runner.dryRun(), log, console);
    } else {
        removeOrphanedParts(plans, console);
        code = summary(options, runner.run(log, clock), log, clock, console);
    }
    // A first pass ended by a signal ends the command: no watch begins.
    return watcher && !Interruption::signal() ? watcher->run(log, console) : code;
}
