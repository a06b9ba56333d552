#include "MaskCommand.h"

#include "BatchRunner.h"
#include "Console.h"
#include "FileOps.h"
#include "MaskPlanner.h"
#include "Options.h"
#include "RunError.h"
#include "SpriteFinder.h"
#include "Watcher.h"
#include "clsDebug.h"

#include <QElapsedTimer>

#include <optional>

namespace
{

int dryRunSummary(const Options &options, const BatchRunner::Tally &tally, Console &console)
{
    if (!options.quiet)
        console.err(QStringLiteral("pelloran-mask: dry run: %1 to mask, %2 up to date, %3 failed")
                        .arg(tally.masked)
                        .arg(tally.upToDate)
                        .arg(tally.failed));
    return tally.failed ? MaskCommand::SomeNotMasked : MaskCommand::AllMasked;
}

// Writes the log when one is asked for; a log that cannot be written counts as a failure,
// since the run did not give what was asked.
int summary(const Options &options, const BatchRunner::Tally &tally, const clsDebug &log,
            const QElapsedTimer &clock, Console &console)
{
    int failed = tally.failed;
    if (!options.logFile.isEmpty()) {
        try {
            writeFileWhole(options.logFile, log.GetHistory().toUtf8());
        } catch (const RunError &e) {
            console.err(QStringLiteral("pelloran-mask: the log could not be written: ") +
                        e.description());
            ++failed;
        }
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
    Options options;
    if (const int code = options.parse(arguments); code >= 0)
        return code;
    SpriteFinder finder(options, rawArguments);
    if (options.listFile && !finder.readList(*options.listFile, options.inputs))
        return usageError(QStringLiteral("cannot read the list '%1'").arg(*options.listFile));

    // Watching starts before the first pass, so that a sprite saved during it is not missed.
    std::optional<Watcher> watcher;
    if (options.watch)
        watcher.emplace(options, rawArguments);
    QElapsedTimer clock;
    clock.start();
    const QList<SpriteFinder::Input> inputs = finder.expand(options.inputs);
    MaskPlanner planner(options);
    const QList<Plan> plans = planner.plan(finder.refused(), inputs);

    Console console;
    BatchRunner runner(options, plans, console);
    runner.reportLeftOut(planner.leftOut());
    clsDebug log;
    const int code = options.dryRun ? dryRunSummary(options, runner.dryRun(), console)
                                    : summary(options, runner.run(log, clock), log, clock, console);
    return watcher ? watcher->run(log, console) : code;
}
