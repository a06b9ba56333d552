#include "MaskCommand.h"

#include "Console.h"
#include "FileOps.h"
#include "MaskPlanner.h"
#include "PictureIO.h"
#include "RunError.h"
#include "RunUtils.h"
#include "SpriteFinder.h"
#include "Version.h"
#include "clsDebug.h"

#include <QColor>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

int MaskCommand::run(const QStringList &arguments, const QList<QByteArray> &rawArguments)
{
    if (const int code = m_options.parse(arguments); code >= 0)
        return code;
    SpriteFinder finder(m_options, rawArguments);
    if (m_options.listFile && !finder.readList(*m_options.listFile, m_options.inputs))
        return usageError(QStringLiteral("cannot read the list '%1'").arg(*m_options.listFile));

    Console console;
    QElapsedTimer clock;
    clock.start();
    const QList<Input> inputs = finder.expand(m_options.inputs);
    MaskPlanner planner(m_options);
    const QList<Plan> plans = planner.plan(finder.refused(), inputs);

    const auto report = [&](const Plan &p, FileJob::Outcome o, const QString &problem) {
        switch (o) {
        case FileJob::Outcome::Masked:
            if (!m_options.quiet)
                console.out(
                    (m_options.dryRun ? QStringLiteral("would mask ") : QStringLiteral("masked ")) +
                    p.sprite + QStringLiteral(" -> ") + p.mask);
            break;
        case FileJob::Outcome::Skipped:
            if (!m_options.quiet)
                console.out(QStringLiteral("up to date ") + p.sprite + QStringLiteral(" -> ") +
                            p.mask);
            break;
        case FileJob::Outcome::Stopped:
        case FileJob::Outcome::Failed:
            console.out(QStringLiteral("failed ") + p.sprite + QStringLiteral(": ") + problem);
            break;
        }
    };
    const auto outcomeOf = [](Plan::State s) {
        return s == Plan::Mask       ? FileJob::Outcome::Masked
               : s == Plan::UpToDate ? FileJob::Outcome::Skipped
                                     : FileJob::Outcome::Failed;
    };

    if (!m_options.quiet)
        for (const QString &name : planner.leftOut())
            console.out(QStringLiteral("left out ") + name +
                        QStringLiteral(": named like a mask (") + m_options.suffix +
                        QStringLiteral(")"));

    int masked = 0, upToDate = 0, failed = 0;
    const auto count = [&](FileJob::Outcome o) {
        masked += o == FileJob::Outcome::Masked;
        upToDate += o == FileJob::Outcome::Skipped;
        failed += o == FileJob::Outcome::Failed;
    };

    if (m_options.dryRun) {
        for (const Plan &p : std::as_const(plans)) {
            report(p, outcomeOf(p.state), p.problem);
            count(outcomeOf(p.state));
        }
        if (!m_options.quiet)
            console.err(
                QStringLiteral("pelloran-mask: dry run: %1 to mask, %2 up to date, %3 failed")
                    .arg(masked)
                    .arg(upToDate)
                    .arg(failed));
        return failed ? SomeNotMasked : AllMasked;
    }

    clsDebug log;
    QMutex lock;
    QWaitCondition progressed;
    const qsizetype total = plans.size();
    std::vector<std::optional<FileJob::Outcome>> outcomes(static_cast<size_t>(total));
    std::vector<QString> problems(static_cast<size_t>(total));
    std::vector<qsizetype> work;
    for (qsizetype i = 0; i < total; ++i) {
        if (plans[i].state == Plan::Mask)
            work.push_back(i);
        else
            outcomes[size_t(i)] = outcomeOf(plans[i].state), problems[size_t(i)] = plans[i].problem;
    }
    std::atomic<size_t> next{0};
    size_t finished = 0;
    const auto worker = [&] {
        // One job a thread, so its buffers serve file after file.
        FileJob job(m_options.job);
        for (size_t k; (k = next++) < work.size();) {
            const qsizetype i = work[k];
            const Plan &p = plans[i];
            FileJob::Outcome outcome = job.run(p.sprite, p.mask, p.existing);
            if (outcome == FileJob::Outcome::Stopped)
                outcome = FileJob::Outcome::Failed; // nobody asks this job to stop
            QMutexLocker locker(&lock);
            // The same entries the window writes, so one log reads the same from either.
            if (outcome == FileJob::Outcome::Masked)
                log.Print_(QStringLiteral("Image '") + p.sprite +
                           QStringLiteral("' masked successfully; mask saved as '") + p.mask +
                           QStringLiteral("'."));
            else if (job.error())
                log.Print_(job.failedReading()
                               ? QStringLiteral("Can't load '") + p.sprite + QLatin1Char('\'')
                               : QStringLiteral("An error occured while masking '") + p.sprite +
                                     QStringLiteral("'."),
                           *job.error());
            outcomes[size_t(i)] = outcome;
            problems[size_t(i)] = job.error() ? job.error()->description() : QString();
            // The reporter looks in on its own a few times a second; waking it for every
            // file would cost a thread switch per file, a good part of a small sprite's time.
            if (++finished == work.size())
                progressed.wakeAll();
        }
    };

    std::vector<std::thread> workers;
    for (size_t w = 0; w < std::min(size_t(m_options.jobs), work.size()); ++w)
        workers.emplace_back(worker);

    const bool bar = !m_options.quiet && isatty(fileno(stderr));
    {
        std::vector<bool> reported(static_cast<size_t>(total), false);
        qsizetype done = 0;
        QMutexLocker locker(&lock);
        while (done < total) {
            if (finished < work.size())
                progressed.wait(&lock, 100);
            for (qsizetype i = 0; i < total; ++i) {
                if (reported[size_t(i)] || !outcomes[size_t(i)])
                    continue;
                reported[size_t(i)] = true;
                ++done;
                report(plans[i], *outcomes[size_t(i)], problems[size_t(i)]);
                count(*outcomes[size_t(i)]);
            }
            if (bar)
                console.bar(done, total, clock.elapsed() / 1000);
        }
    }
    for (std::thread &w : workers)
        w.join();

    if (!m_options.logFile.isEmpty()) {
        try {
            writeFileWhole(m_options.logFile, log.GetHistory().toUtf8());
        } catch (const RunError &e) {
            console.err(QStringLiteral("pelloran-mask: the log could not be written: ") +
                        e.description());
            ++failed;
        }
    }
    if (!m_options.quiet)
        console.err(QStringLiteral("pelloran-mask: %1 masked, %2 up to date, %3 failed in %4 s")
                        .arg(masked)
                        .arg(upToDate)
                        .arg(failed)
                        .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    console.clearBar();
    return failed ? SomeNotMasked : AllMasked;
}
