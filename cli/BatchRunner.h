#pragma once

#include "FileJob.h"
#include "MaskPlanner.h"

#include <QList>
#include <QStringList>

class Console;
class QElapsedTimer;
class clsDebug;
struct Options;

// Carries out the plans and reports each one as a line on standard output, in the plans'
// order whatever order the files finish in: a line for people, or with --json an object.
class BatchRunner
{
public:
    // What became of one plan.
    enum class Result { Masked, Kept, UpToDate, Failed, NotStarted };
    struct Tally {
        // notStarted: masks an interruption left unwritten (never begun, or stopped).
        int masked = 0, kept = 0, upToDate = 0, failed = 0, notStarted = 0, leftOut = 0;
        void count(Result r);
    };

    // All three must outlive the runner.
    BatchRunner(const Options &options, const QList<Plan> &plans, Console &console);

    // The inputs named like masks, which no plan has.
    void reportLeftOut(const QStringList &names);
    // Reports what would be done, from the plans alone, until an interruption.
    Tally dryRun();
    // Masks the plans' sprites on up to `options.jobs` threads, each with a FileJob of its
    // own. `log` gets the window's entries in the order the files finish; `clock` times the
    // progress bar, drawn when standard error is a terminal. After an interruption
    // (Interruption::signal()) no file is begun, the files in flight stop at their next
    // block, and every file finished is still reported.
    Tally run(clsDebug &log, const QElapsedTimer &clock);
    // With --json, the run's summary object; `signal` is the interruption's, or 0.
    void reportSummary(const Tally &t, double seconds, int signal, int exitCode);

private:
    struct Batch;
    void work(Batch &batch, clsDebug &log);
    // Prints each plan's line once its file and all planned before it are done; draws the
    // progress bar between rounds.
    Tally reportInOrder(Batch &batch, const QElapsedTimer &clock);
    void report(const Plan &p, Result r, const QString &problem, double seconds = 0);
    // Prints a line on standard output; a reader gone counts as an interruption.
    void out(const QString &line);
    void outJson(const QByteArray &line);

    const Options &m_options;
    const QList<Plan> &m_plans;
    Console &m_console;
};
