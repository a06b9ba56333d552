#include "BatchRunner.h"

#include "Console.h"
#include "Interruption.h"
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
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

FileJob::Outcome outcomeOf(Plan::State s)
{
    return s == Plan::Mask       ? FileJob::Outcome::Masked
           : s == Plan::UpToDate ? FileJob::Outcome::Skipped
                                 : FileJob::Outcome::Failed;
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
    FileJob::Outcome outcome;
    QString problem;
};

} // namespace

void BatchRunner::Tally::count(FileJob::Outcome o)
{
    masked += o == FileJob::Outcome::Masked;
    upToDate += o == FileJob::Outcome::Skipped;
    failed += o == FileJob::Outcome::Failed;
    notStarted += o == FileJob::Outcome::Stopped;
}

BatchRunner::BatchRunner(const Options &options, const QList<Plan> &plans, Console &console)
    : m_options(options), m_plans(plans), m_console(console)
{
}

void BatchRunner::out(const QString &line)
{
    errno = 0;
    m_console.out(line);
    if (std::ferror(stdout) && errno == EPIPE)
        Interruption::request(SIGPIPE);
}

void BatchRunner::report(const Plan &p, FileJob::Outcome o, const QString &problem)
{
    switch (o) {
    case FileJob::Outcome::Masked:
        if (!m_options.quiet)
            out((m_options.dryRun ? QStringLiteral("would mask ") : QStringLiteral("masked ")) +
                p.sprite + QStringLiteral(" -> ") + p.mask);
        break;
    case FileJob::Outcome::Skipped:
        if (!m_options.quiet)
            out(QStringLiteral("up to date ") + p.sprite + QStringLiteral(" -> ") + p.mask);
        break;
    case FileJob::Outcome::Stopped: // counted in the summary only
        break;
    case FileJob::Outcome::Failed:
        out(QStringLiteral("failed ") + p.sprite + QStringLiteral(": ") + problem);
        break;
    }
}

void BatchRunner::reportLeftOut(const QStringList &names)
{
    if (m_options.quiet)
        return;
    for (const QString &name : names)
        out(QStringLiteral("left out ") + name + QStringLiteral(": named like a mask (") +
            m_options.suffix + QStringLiteral(")"));
}

BatchRunner::Tally BatchRunner::dryRun()
{
    Tally tally;
    for (const Plan &p : m_plans) {
        // A dry run of a large tree prints for a while: Ctrl-C, or a reader that went away,
        // ends it as it ends a real run.
        if (Interruption::signal()) {
            tally.notStarted += p.state == Plan::Mask;
            continue;
        }
        report(p, outcomeOf(p.state), p.problem);
        tally.count(outcomeOf(p.state));
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
    std::vector<std::thread> workers;
    batch.workersLeft = std::min(size_t(m_options.jobs), batch.work.size());
    for (size_t w = 0; w < batch.workersLeft; ++w)
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
        // A stopped job has removed whatever it had written of its mask.
        const FileJob::Outcome outcome = job.run(p.sprite, p.mask, p.existing, &observer);
        QString problem = job.error() ? job.error()->description() : QString();
        const std::lock_guard locker(batch.lock);
        // The same entries the window writes, so one log reads the same from either.
        if (outcome == FileJob::Outcome::Masked)
            log.Print_(MaskRun::maskedEntry(p.sprite, p.mask));
        else if (job.error())
            log.Print_(job.failedReading() ? MaskRun::cantLoadEntry(p.sprite)
                                           : MaskRun::failedEntry(p.sprite),
                       *job.error());
        batch.finished.push_back({i, outcome, std::move(problem)});
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
    std::vector<std::optional<FileJob::Outcome>> outcomes(static_cast<size_t>(total));
    std::vector<QString> problems(static_cast<size_t>(total));
    qsizetype received = 0;
    for (qsizetype i = 0; i < total; ++i) {
        if (const Plan &p = m_plans[i]; p.state != Plan::Mask) {
            outcomes[size_t(i)] = outcomeOf(p.state), problems[size_t(i)] = p.problem;
            ++received;
        }
    }
    const bool bar = !m_options.quiet && isatty(fileno(stderr));
    Tally tally;
    std::vector<Finished> taken;
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
            outcomes[size_t(f.plan)] = f.outcome;
            problems[size_t(f.plan)] = std::move(f.problem);
            ++received;
        }
        taken.clear();
        for (; cursor < total && outcomes[size_t(cursor)]; ++cursor) {
            report(m_plans[cursor], *outcomes[size_t(cursor)], problems[size_t(cursor)]);
            tally.count(*outcomes[size_t(cursor)]);
        }
        if (bar)
            m_console.bar(received, total, clock.elapsed() / 1000);
    }
    // Interrupted: the files finished after one that never was are reported all the same.
    for (; cursor < total; ++cursor) {
        const auto &o = outcomes[size_t(cursor)];
        if (o)
            report(m_plans[cursor], *o, problems[size_t(cursor)]);
        tally.count(o.value_or(FileJob::Outcome::Stopped));
    }
    return tally;
}
