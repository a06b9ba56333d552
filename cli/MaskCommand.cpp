#include "MaskCommand.h"

#include "FileOps.h"
#include "MaskRun.h"
#include "PictureIO.h"
#include "RunError.h"
#include "RunUtils.h"
#include "Version.h"
#include "clsDebug.h"

#include <QCommandLineParser>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace {

// Every line printed is one line: names with control characters are shown escaped.
void err(const QString &line)
{
    std::fputs(qPrintable(printableName(line) + QLatin1Char('\n')), stderr);
}

const QString notUtf8 = QStringLiteral("the name is not valid UTF-8, so it cannot be opened");

QString baseName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? fileName.left(dot) : fileName;
}

} // namespace

Colour MaskCommand::parseColour(const QString &text)
{
    const QString hex = text.startsWith(QLatin1Char('#')) ? text.mid(1) : text;
    bool ok = false;
    const uint rgb = hex.toUInt(&ok, 16);
    if (!ok || hex.size() != 6)
        return NoColour;
    return Colour(((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
}

void MaskCommand::walk(const QByteArray &folder, QStringList &found)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        const int error = errno;
        m_unreadable.append({QFile::decodeName(folder), RunError::fromErrno(error, QFile::decodeName(folder)).description()});
        return;
    }
    QList<QByteArray> subfolders;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray full = folder + '/' + name;
        struct stat st;
        // Links are not followed: a linked folder could lead out of the tree or round it.
        if (::lstat(full.constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (m_recursive)
                subfolders.append(full);
            continue;
        }
        const QString fileName = QFile::decodeName(name);
        // Masks made by an earlier run are not sprites.
        if (!S_ISREG(st.st_mode) || baseName(fileName).endsWith(m_settings.suffix) ||
            !matchesPattern(m_pattern, fileName))
            continue;
        if (nameRoundTrips(full))
            found.append(QFile::decodeName(full));
        else
            m_unreadable.append({printableName(full), notUtf8});
    }
    ::closedir(dir);
    for (const QByteArray &sub : std::as_const(subfolders))
        walk(sub, found);
}

QStringList MaskCommand::expand(const QStringList &inputs)
{
    QStringList files;
    for (const QString &input : inputs) {
        if (const auto raw = m_lossyArguments.constFind(input); raw != m_lossyArguments.cend()) {
            m_unreadable.append({printableName(*raw), notUtf8});
            continue;
        }
        const QFileInfo info(input);
        if (info.isFile()) {
            files.append(info.absoluteFilePath());
        } else if (info.isDir()) {
            QStringList found;
            walk(QFile::encodeName(info.absoluteFilePath()), found);
            found.sort();
            files += found;
        } else {
            m_unreadable.append({input, QStringLiteral("no such file or folder")});
        }
    }
    return files;
}

int MaskCommand::run(const QStringList &arguments, const QList<QByteArray> &rawArguments)
{
    for (const QByteArray &raw : rawArguments)
        if (!nameRoundTrips(raw))
            m_lossyArguments.insert(QFile::decodeName(raw), raw);

    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Writes the mask of each sprite beside it: pixels of the transparency "
                       "colour become the mask colour, all others the transparency colour."));
    p.addPositionalArgument(QStringLiteral("FILE|FOLDER"), QStringLiteral("Sprites to mask."),
                            QStringLiteral("FILE|FOLDER..."));
    const QCommandLineOption t({"t", "transparency"},
                               "The sprites' background colour (default 000000).", "RRGGBB");
    const QCommandLineOption m({"m", "mask"},
                               "The mask colour (default: the transparency colour's opposite).",
                               "RRGGBB");
    const QCommandLineOption s({"s", "suffix"}, "Added to each mask's name (default _mask).",
                               "TEXT", QStringLiteral("_mask"));
    const QCommandLineOption r({"r", "recursive"}, "Look into the folders' folders too.");
    const QCommandLineOption pattern("pattern",
                                     "Files of a folder to take (default: every picture the "
                                     "program reads).",
                                     "GLOB");
    const QCommandLineOption overwrite("overwrite", "Replace masks that already exist.");
    const QCommandLineOption j({"j", "jobs"}, "Files masked at the same time (default: cores).",
                               "N");
    const QCommandLineOption logFile("log", "Write the run's log to FILE.", "FILE");
    const QCommandLineOption dry("dry-run", "Say what would be written; write nothing.");
    const QCommandLineOption q({"q", "quiet"}, "Report failures only.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption version({"v", "version"}, "Show the version.");
    for (const QCommandLineOption &o : {t, m, s, r, pattern, overwrite, j, logFile, dry, q, help,
                                        version})
        p.addOption(o);

    const auto usage = [&](const QString &why) {
        err(QStringLiteral("pelloran-mask: ") + why);
        err(QStringLiteral("Try 'pelloran-mask --help'."));
        return BadUsage;
    };
    if (!p.parse(arguments))
        return usage(p.errorText());
    if (p.isSet(help)) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return AllMasked;
    }
    if (p.isSet(version)) {
        std::puts(qPrintable(versionText()));
        return AllMasked;
    }

    m_settings.transparency = parseColour(p.value(t).isEmpty() ? "000000" : p.value(t));
    if (m_settings.transparency == NoColour)
        return usage(QStringLiteral("bad transparency colour '%1' (use RRGGBB)").arg(p.value(t)));
    m_settings.mask = p.isSet(m) ? parseColour(p.value(m)) : complement(m_settings.transparency);
    if (m_settings.mask == NoColour)
        return usage(QStringLiteral("bad mask colour '%1' (use RRGGBB)").arg(p.value(m)));
    m_settings.suffix = p.value(s);
    if (const QString problem = MaskRun::suffixProblem(m_settings.suffix); !problem.isEmpty())
        return usage(problem);
    m_settings.overwrite = p.isSet(overwrite);
    m_recursive = p.isSet(r);
    m_pattern = p.isSet(pattern) ? p.value(pattern) : pictureFilePattern();
    m_jobs = QThread::idealThreadCount();
    if (p.isSet(j)) {
        bool ok = false;
        m_jobs = p.value(j).toInt(&ok);
        if (!ok || m_jobs < 1)
            return usage(QStringLiteral("bad number of jobs '%1'").arg(p.value(j)));
    }
    m_logFile = p.value(logFile);
    m_dryRun = p.isSet(dry);
    m_quiet = p.isSet(q);
    if (p.positionalArguments().isEmpty())
        return usage(QStringLiteral("no sprite files or folders given"));

    const QStringList files = expand(p.positionalArguments());
    const int missing = int(m_unreadable.size());
    for (const auto &[name, why] : std::as_const(m_unreadable))
        err(QStringLiteral("failed ") + name + QStringLiteral(": ") + why);

    if (m_dryRun) {
        for (const QString &f : files) {
            const QString out = MaskRun::outputName(f, m_settings.suffix);
            const bool skip = entryExists(out) && !m_settings.overwrite;
            std::puts(qPrintable(printableName((skip ? QStringLiteral("would skip ") : QStringLiteral("would mask ")) +
                                 f + QStringLiteral(" -> ") + out)));
        }
        return missing ? SomeNotMasked : AllMasked;
    }

    clsDebug log;
    QMutex lock;
    QWaitCondition progressed;
    std::vector<std::optional<FileJob::Outcome>> outcomes(files.size());
    std::vector<QString> reports(files.size());
    std::atomic<qsizetype> next{0};
    qsizetype finished = 0;
    const auto work = [&] {
        // One job a thread, so its buffers serve file after file.
        FileJob job(m_settings);
        for (qsizetype i; (i = next++) < files.size();) {
            const FileJob::Outcome outcome = job.run(files[i]);
            QString report, entry;
            switch (outcome) {
            case FileJob::Outcome::Masked:
                report = QStringLiteral("masked ") + files[i] + QStringLiteral(" -> ") + job.output();
                entry = QStringLiteral("Image '") + files[i] +
                        QStringLiteral("' masked successfully; mask saved as '") + job.output() +
                        QStringLiteral("'.");
                break;
            case FileJob::Outcome::Skipped:
                report = QStringLiteral("skipped ") + files[i] + QStringLiteral(": ") + job.output() +
                         QStringLiteral(" already exists (use --overwrite)");
                break;
            case FileJob::Outcome::Stopped:
            case FileJob::Outcome::Failed:
                report = QStringLiteral("failed ") + files[i] + QStringLiteral(": ") +
                         job.error()->description();
                break;
            }
            QMutexLocker locker(&lock);
            // The same entries the window writes, so one log reads the same from either.
            if (!entry.isEmpty())
                log.Print_(entry);
            else if (job.error())
                log.Print_(job.failedReading()
                               ? QStringLiteral("Can't load '") + files[i] + QLatin1Char('\'')
                               : QStringLiteral("An error occured while masking '") + files[i] +
                                     QStringLiteral("'."),
                           *job.error());
            outcomes[i] = outcome;
            reports[i] = report;
            // The reporter looks in on its own a few times a second; waking it for every
            // file would cost a thread switch per file, a good part of a small sprite's time.
            if (++finished == files.size())
                progressed.wakeAll();
        }
    };

    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> workers;
    for (int w = 0; w < std::min<qsizetype>(m_jobs, std::max<qsizetype>(1, files.size())); ++w)
        workers.emplace_back(work);

    const bool bar = !m_quiet && isatty(fileno(stderr));
    int masked = 0, skipped = 0, failed = missing;
    {
        std::vector<bool> reported(files.size(), false);
        qsizetype done = 0;
        QMutexLocker locker(&lock);
        while (done < files.size()) {
            if (finished < files.size())
                progressed.wait(&lock, 100);
            for (qsizetype i = 0; i < files.size(); ++i) {
                if (reported[i] || !outcomes[i])
                    continue;
                reported[i] = true;
                ++done;
                const FileJob::Outcome o = *outcomes[i];
                masked += o == FileJob::Outcome::Masked;
                skipped += o == FileJob::Outcome::Skipped;
                failed += o == FileJob::Outcome::Failed || o == FileJob::Outcome::Stopped;
                if (o == FileJob::Outcome::Failed || (!m_quiet && !bar))
                    err(reports[i]);
            }
            if (bar) {
                const int width = 30;
                const int filled = files.isEmpty() ? width : int(done * width / files.size());
                std::fprintf(stderr, "\r[%s%s] %lld/%lld files, %lld s", qPrintable(QString(filled, '#')),
                             qPrintable(QString(width - filled, '.')), qint64(done),
                             qint64(files.size()), qint64(clock.elapsed() / 1000));
                std::fflush(stderr);
            }
        }
    }
    for (std::thread &w : workers)
        w.join();
    if (bar)
        std::fputc('\n', stderr);

    if (!m_logFile.isEmpty()) {
        try {
            writeFileWhole(m_logFile, log.GetHistory().toUtf8());
        } catch (const RunError &e) {
            err(QStringLiteral("pelloran-mask: the log could not be written: ") + e.description());
            ++failed;
        }
    }
    if (!m_quiet)
        err(QStringLiteral("pelloran-mask: %1 masked, %2 skipped, %3 failed in %4 s")
                .arg(masked)
                .arg(skipped)
                .arg(failed)
                .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    return failed || skipped ? SomeNotMasked : AllMasked;
}
