#include "BatchRunner.h"

#include "Console.h"
#include "Interruption.h"
#include "JsonLines.h"
#include "MaskRun.h"
#include "Options.h"
#include "clsDebug.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Result = BatchRunner::Result;

Result resultOf(Plan::State s)
{
    return s == Plan::Mask       ? Result::Masked
           : s == Plan::Kept     ? Result::Kept
           : s == Plan::UpToDate ? Result::UpToDate
                                 : Result::Failed;
}

Result resultOf(FileJob::Outcome o)
{
    // A mask that appeared after the plan was made is kept as one that was there before.
    return o == FileJob::Outcome::Masked    ? Result::Masked
           : o == FileJob::Outcome::Skipped ? Result::Kept
           : o == FileJob::Outcome::Stopped ? Result::NotStarted
                                            : Result::Failed;
}

// Lets a job in flight stop at its next block once the run is interrupted.
class StopOnInterruption : public JobObserver
{
public:
    bool stopRequested() override { return Interruption::signal() != 0; }
};

// One file a worker is done with, handed to the reporter.
struct Finished {
    qsizetype plan;
    Result result;
    QString problem;
    double seconds;
};

} // namespace

void BatchRunner::Tally::count(Result r)
{
    masked += r == Result::Masked;
    kept += r == Result::Kept;
    upToDate += r == Result::UpToDate;
    failed += r == Result::Failed;
    notStarted += r == Result::NotStarted;
}

BatchRunner::BatchRunner(const Options &options, const QList<Plan> &plans, Console &console)
    : m_options(options), m_plans(plans), m_console(console)
{
}

namespace
{
// After a line is printed with errno cleared: a reader gone counts as an interruption.
void noteClosedPipe()
{
    if (std::ferror(stdout) && errno == EPIPE)
        Interruption::request(SIGPIPE);
}
} // namespace

void BatchRunner::out(const QString &line)
{
    errno = 0;
    m_console.out(line);
    noteClosedPipe();
}

void BatchRunner::outJson(const QByteArray &line)
{
    errno = 0;
    m_console.outBytes(line);
    noteClosedPipe();
}

void BatchRunner::report(const Plan &p, Result r, const QString &problem, double seconds)
{
    const bool dry = m_options.dryRun;
    if (m_options.json) {
        static const char *const names[] = {"masked", "kept", "up to date", "failed",
                                            "not started"};
        struct stat st;
        const bool there =
            (r == Result::Kept || r == Result::UpToDate || (r == Result::Masked && !dry)) &&
            ::lstat(fileNameToBytes(p.mask).constData(), &st) == 0;
        outJson(JsonLines::file({p.sprite, p.mask,
                                 dry && r == Result::Masked ? "would mask" : names[int(r)], problem,
                                 there ? qint64(st.st_size) : -1, seconds}));
        return;
    }
    const QString names = p.sprite + QStringLiteral(" -> ") + p.mask;
    switch (r) {
    case Result::Masked:
        if (!m_options.quiet)
            out((dry ? QStringLiteral("would mask ") : QStringLiteral("masked ")) + names);
        break;
    case Result::Kept:
        if (!m_options.quiet)
            out(QStringLiteral("kept ") + names +
                QStringLiteral(" (exists; -u remakes masks older than their sprite)"));
        break;
    case Result::UpToDate:
        if (!m_options.quiet)
            out(QStringLiteral("up to date ") + names);
        break;
    case Result::NotStarted: // counted in the summary only
        break;
    case Result::Failed:
        out(QStringLiteral("failed ") + p.sprite + QStringLiteral(": ") + problem);
        break;
    }
}

void BatchRunner::reportLeftOut(const QStringList &names)
{
    const QString why = QStringLiteral("named like a mask (") + m_options.suffix + ')';
    for (const QString &name : names) {
        if (m_options.json)
            outJson(JsonLines::file({name, QString(), "left out", why}));
        else if (!m_options.quiet)
            out(QStringLiteral("left out ") + name + QStringLiteral(": ") + why);
    }
}

void BatchRunner::reportSummary(const Tally &t, double seconds, int signal, int exitCode)
{
    if (!m_options.json || signal == SIGPIPE) // nobody left to read it
        return;
    // Numbers by QByteArray::number: printf's would take a decimal comma from the locale.
    const auto field = [](const char *name, qint64 n) {
        return ",\"" + QByteArray(name) + "\":" + QByteArray::number(n);
    };
    outJson("{\"type\":\"summary\",\"dryRun\":" + QByteArray(m_options.dryRun ? "true" : "false") +
            field("masked", t.masked) + field("kept", t.kept) + field("upToDate", t.upToDate) +
            field("failed", t.failed) + field("leftOut", t.leftOut) +
            field("notStarted", t.notStarted) +
            ",\"seconds\":" + QByteArray::number(seconds, 'f', 3) + ",\"interrupted\":" +
            (signal ? JsonLines::string(Interruption::signalName(signal)) : QByteArray("null")) +
            field("exitCode", exitCode) + '}');
}

BatchRunner::Tally BatchRunner::dryRun()
{
    Tally tally;
    for (const Plan &p : m_plans) {
        // A dry run of a large tree prints for a while: Ctrl-C, or a reader that went away,
        // ends it as it ends a real run.
        const Result r = Interruption::signal() && p.state == Plan::Mask ? Result::NotStarted
                                                                         : resultOf(p.state);
        if (!Interruption::signal() || (m_options.json && r == Result::NotStarted))
            report(p, r, p.problem);
        if (!Interruption::signal() || r == Result::NotStarted)
            tally.count(r);
    }
    return tally;
}

// What the workers share with the reporter. Workers hand each finished file over under
// `lock`; the reporter takes all of them at once under it and prints after letting go, so a
// slow terminal or pipe never keeps a worker from handing over its next file.
struct BatchRunner::Batch {
    std::vector<qsizetype> work; // the plans to mask
    std::atomic<size_t> next{0}; // the first of them no worker has taken
    std::mutex lock;
    std::condition_variable progressed;
    std::vector<Finished> finished; // handed over, not yet taken
    size_t finishedCount = 0;
    size_t workersLeft = 0; // threads still taking files
};

BatchRunner::Tally BatchRunner::run(clsDebug &log, const QElapsedTimer &clock)
{
    Batch batch;
    for (qsizetype i = 0; i < m_plans.size(); ++i)
        if (m_plans[i].state == Plan::Mask)
            batch.work.push_back(i);
    // Counted before the first starts: a worker that finds the run interrupted ends at once,
    // and the number started must not depend on how soon it does.
    const size_t count = std::min(size_t(m_options.jobs), batch.work.size());
    batch.workersLeft = count;
    std::vector<std::thread> workers;
    for (size_t w = 0; w < count; ++w)
        workers.emplace_back([&] { work(batch, log); });
    const Tally tally = reportInOrder(batch, clock);
    for (std::thread &w : workers)
        w.join();
    return tally;
}

void BatchRunner::work(Batch &batch, clsDebug &log)
{
    // One job a thread, so its buffers serve file after file.
    FileJob job(m_options.job);
    StopOnInterruption observer;
    for (size_t k; !Interruption::signal() && (k = batch.next++) < batch.work.size();) {
        const qsizetype i = batch.work[k];
        const Plan &p = m_plans[i];
        job.setKind(p.kind);
        const auto start = std::chrono::steady_clock::now();
        // A stopped job has removed whatever it had written of its mask.
        const FileJob::Outcome outcome = job.run(p.sprite, p.mask, p.existing, &observer);
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        QString problem = job.error() ? job.error()->description() : QString();
        const std::lock_guard locker(batch.lock);
        // The same entries the window writes, so one log reads the same from either.
        if (outcome == FileJob::Outcome::Masked)
            log.Print_(MaskRun::maskedEntry(p.sprite, p.mask));
        else if (job.error())
            log.Print_(job.failedReading() ? MaskRun::cantLoadEntry(p.sprite)
                                           : MaskRun::failedEntry(p.sprite),
                       *job.error());
        batch.finished.push_back({i, resultOf(outcome), std::move(problem), seconds.count()});
        // The reporter looks in on its own a few times a second; waking it for every file
        // would cost a thread switch per file, a good part of a small sprite's time.
        if (++batch.finishedCount == batch.work.size())
            batch.progressed.notify_all();
    }
    const std::lock_guard locker(batch.lock);
    if (--batch.workersLeft == 0)
        batch.progressed.notify_all();
}

BatchRunner::Tally BatchRunner::reportInOrder(Batch &batch, const QElapsedTimer &clock)
{
    const qsizetype total = m_plans.size();
    // Touched by no worker. Plans decided up front are in it from the start.
    std::vector<std::optional<Result>> results(static_cast<size_t>(total));
    std::vector<QString> problems(static_cast<size_t>(total));
    std::vector<double> seconds(static_cast<size_t>(total));
    qsizetype received = 0;
    for (qsizetype i = 0; i < total; ++i) {
        if (const Plan &p = m_plans[i]; p.state != Plan::Mask) {
            results[size_t(i)] = resultOf(p.state), problems[size_t(i)] = p.problem;
            ++received;
        }
    }
    const bool bar = !m_options.quiet && isatty(fileno(stderr));
    Tally tally;
    std::vector<Finished> taken;
    const auto reportAt = [&](qsizetype i, Result r) {
        report(m_plans[i], r, problems[size_t(i)], seconds[size_t(i)]);
        tally.count(r);
    };
    // A file done early waits for those planned before it, so that the lines come out in
    // the same order whichever thread is faster.
    qsizetype cursor = 0;
    for (bool workersDone = false; cursor < total && !(workersDone && Interruption::signal());) {
        {
            std::unique_lock locker(batch.lock);
            if (batch.finishedCount < batch.work.size() && batch.workersLeft > 0)
                batch.progressed.wait_for(locker, std::chrono::milliseconds(100));
            taken.swap(batch.finished);
            workersDone = batch.workersLeft == 0;
        }
        for (Finished &f : taken) {
            results[size_t(f.plan)] = f.result;
            problems[size_t(f.plan)] = std::move(f.problem);
            seconds[size_t(f.plan)] = f.seconds;
            ++received;
        }
        taken.clear();
        for (; cursor < total && results[size_t(cursor)]; ++cursor)
            reportAt(cursor, *results[size_t(cursor)]);
        if (bar)
            m_console.bar(received, total, clock.elapsed() / 1000);
    }
    // Interrupted: the files finished after one that never was are reported all the same.
    for (; cursor < total; ++cursor)
        reportAt(cursor, results[size_t(cursor)].value_or(Result::NotStarted));
    return tally;
}
