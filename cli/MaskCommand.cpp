#include "MaskCommand.h"

#include "Console.h"
#include "FileOps.h"
#include "MaskRun.h"
#include "PictureIO.h"
#include "RunError.h"
#include "RunUtils.h"
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

namespace
{

const QString notUtf8 = QStringLiteral("the name is not valid UTF-8, so it cannot be opened");

QString baseName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? fileName.left(dot) : fileName;
}

// A number 0..255 in plain decimal digits; -1 for anything else.
int byteValue(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
    if (!digits.match(text).hasMatch())
        return -1;
    const int v = text.toInt();
    return v <= 255 ? v : -1;
}

// Options whose value may follow as the next argument, so that a value such as "-a" is
// not taken for an option.
const QStringList valueOptions{"-t",       "--transparency", "-m",       "--mask",  "-s",
                               "--suffix", "--pattern",      "-j",       "--jobs",  "--log",
                               "-o",       "--output-dir",   "--format", "--depth", "-f",
                               "--fuzz",   "--files-from"};

// "--alpha" and "-a" take their threshold only attached ("--alpha=N", "-aN"), as optional
// values do everywhere: alone they mean 0, and the next argument stays a file.
QStringList withAlphaValues(const QStringList &arguments)
{
    QStringList out;
    bool value = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--")) {
            out += arguments.mid(i);
            break;
        }
        const bool alone =
            !value && i > 0 && (a == QLatin1String("--alpha") || a == QLatin1String("-a"));
        out.append(alone ? QStringLiteral("--alpha=0") : a);
        value = !value && valueOptions.contains(a);
    }
    return out;
}

bool newerThan(const struct stat &a, const struct stat &b)
{
    return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                                : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

// mkdir -p; the reason when a folder cannot be made.
QString makeFolder(const QString &path)
{
    const QByteArray raw = QFile::encodeName(path);
    struct stat st;
    if (::stat(raw.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? QString() : path + QStringLiteral(" is not a folder");
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0)
        if (const QString problem = makeFolder(path.left(slash)); !problem.isEmpty())
            return problem;
    if (::mkdir(raw.constData(), 0777) != 0 && errno != EEXIST)
        return RunError::fromErrno(errno, path).description();
    return {};
}

} // namespace

Colour MaskCommand::parseColour(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^#?([0-9A-Fa-f]{6})$"));
    static const QRegularExpression shortHex(QStringLiteral("^#([0-9A-Fa-f]{3})$"));
    static const QRegularExpression triple(QStringLiteral("^([0-9]+),([0-9]+),([0-9]+)$"));
    static const QRegularExpression name(QStringLiteral("^[A-Za-z]+$"));
    int r, g, b;
    if (const auto m = hex.match(text); m.hasMatch()) {
        const uint rgb = m.captured(1).toUInt(nullptr, 16);
        r = int(rgb >> 16), g = int((rgb >> 8) & 0xFF), b = int(rgb & 0xFF);
    } else if (const auto m = shortHex.match(text); m.hasMatch()) {
        const uint rgb = m.captured(1).toUInt(nullptr, 16);
        r = int(rgb >> 8) * 17, g = int((rgb >> 4) & 0xF) * 17, b = int(rgb & 0xF) * 17;
    } else if (const auto m = triple.match(text); m.hasMatch()) {
        r = byteValue(m.captured(1)), g = byteValue(m.captured(2)), b = byteValue(m.captured(3));
        if (r < 0 || g < 0 || b < 0)
            return NoColour;
    } else if (name.match(text).hasMatch() && QColor::isValidColor(text)) {
        const QColor c = QColor::fromString(text);
        if (c.alpha() != 255) // "transparent" is no colour a pixel can be compared with
            return NoColour;
        r = c.red(), g = c.green(), b = c.blue();
    } else {
        return NoColour;
    }
    return Colour(r | (g << 8) | (b << 16));
}

void MaskCommand::walk(const QByteArray &folder, const QByteArray &subfolder, QList<Input> &found)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        const int error = errno;
        m_unreadable.append({QFile::decodeName(folder),
                             RunError::fromErrno(error, QFile::decodeName(folder)).description()});
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
                subfolders.append(name);
            continue;
        }
        const QString fileName = QFile::decodeName(name);
        // Masks made by an earlier run are not sprites.
        if (!S_ISREG(st.st_mode) || baseName(fileName).endsWith(m_suffix) ||
            !matchesPattern(m_pattern, fileName))
            continue;
        if (nameRoundTrips(full))
            found.append({QFile::decodeName(full), QFile::decodeName(subfolder)});
        else
            m_unreadable.append({printableName(full), notUtf8});
    }
    ::closedir(dir);
    for (const QByteArray &sub : std::as_const(subfolders))
        walk(folder + '/' + sub, subfolder.isEmpty() ? sub : subfolder + '/' + sub, found);
}

void MaskCommand::addInput(const QString &input, QList<Input> &found)
{
    const QFileInfo info(input);
    if (info.isFile()) {
        found.append({QDir::cleanPath(info.absoluteFilePath()), QString()});
    } else if (info.isDir()) {
        QList<Input> inFolder;
        // "sprites/" names the same folder as "sprites": no "//" in the names reported.
        walk(QFile::encodeName(QDir::cleanPath(info.absoluteFilePath())), QByteArray(), inFolder);
        std::sort(inFolder.begin(), inFolder.end(),
                  [](const Input &a, const Input &b) { return a.sprite < b.sprite; });
        found += inFolder;
    } else {
        m_unreadable.append({input, QStringLiteral("no such file or folder")});
    }
}

QList<MaskCommand::Input> MaskCommand::expand(const QStringList &inputs)
{
    QList<Input> found;
    for (const QString &input : inputs) {
        if (const auto raw = m_lossyArguments.constFind(input); raw != m_lossyArguments.cend())
            m_unreadable.append({printableName(*raw), notUtf8});
        else
            addInput(input, found);
    }
    return found;
}

// Names from a list file or standard input: one a line, or NUL-separated with --null, as
// the file system has them.
bool MaskCommand::readList(const QString &listName, QStringList &inputs)
{
    QFile list;
    const bool opened = listName == QLatin1String("-")
                            ? list.open(stdin, QIODevice::ReadOnly)
                            : (list.setFileName(listName), list.open(QIODevice::ReadOnly));
    if (!opened)
        return false;
    const QByteArray all = list.readAll();
    for (const QByteArray &raw : all.split(m_null ? '\0' : '\n')) {
        if (raw.isEmpty())
            continue;
        if (nameRoundTrips(raw)) {
            inputs.append(QFile::decodeName(raw));
        } else {
            m_lossyArguments.insert(QFile::decodeName(raw), raw);
            inputs.append(QFile::decodeName(raw));
        }
    }
    return true;
}

QList<MaskCommand::Plan> MaskCommand::plan(const QList<Input> &inputs)
{
    QList<Plan> plans;
    // A mask of an earlier run, named or listed (find -name '*.png' lists them too), is not
    // masked again: a rerun would otherwise add a mask of the mask each time.
    QSet<QString> sprites;
    QList<Input> kept;
    for (const Input &in : inputs) {
        if (baseName(in.sprite.mid(in.sprite.lastIndexOf(QLatin1Char('/')) + 1))
                .endsWith(m_suffix)) {
            if (!m_leftOut.contains(in.sprite))
                m_leftOut.append(in.sprite);
        } else {
            sprites.insert(in.sprite);
            kept.append(in);
        }
    }
    QHash<QString, qsizetype> byMask;
    QSet<QString> seen;
    for (const Input &in : std::as_const(kept)) {
        if (seen.contains(in.sprite)) // the same file named twice is masked once
            continue;
        seen.insert(in.sprite);
        Plan p;
        p.sprite = in.sprite;
        const qsizetype slash = in.sprite.lastIndexOf(QLatin1Char('/'));
        QString name = MaskRun::outputName(in.sprite.mid(slash + 1), m_suffix);
        if (!m_formatGiven.isEmpty()) {
            const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
            name = (dot > 0 ? name.left(dot) : name) + QLatin1Char('.') + m_formatGiven;
        }
        const QString folder = m_outputDir.isEmpty() ? in.sprite.left(slash)
                               : in.subfolder.isEmpty()
                                   ? m_outputDir
                                   : m_outputDir + QLatin1Char('/') + in.subfolder;
        p.mask = folder + QLatin1Char('/') + name;
        if (sprites.contains(p.mask)) {
            p.state = Plan::Failed;
            p.problem = QStringLiteral("its mask %1 would be written over a sprite being masked")
                            .arg(p.mask);
        } else if (const auto other = byMask.constFind(p.mask); other != byMask.cend()) {
            // Neither gets the name: which one a user meant cannot be guessed.
            p.state = Plan::Failed;
            p.problem = QStringLiteral("its mask %1 would also be the mask of %2")
                            .arg(p.mask, plans[*other].sprite);
            Plan &first = plans[*other];
            if (first.state != Plan::Failed) {
                first.state = Plan::Failed;
                first.problem = QStringLiteral("its mask %1 would also be the mask of %2")
                                    .arg(p.mask, p.sprite);
            }
        } else {
            byMask.insert(p.mask, plans.size());
            struct stat maskStat, spriteStat;
            if (::lstat(QFile::encodeName(p.mask).constData(), &maskStat) == 0) {
                if (m_overwrite)
                    p.existing = Existing::Replace;
                else if (m_update &&
                         ::stat(QFile::encodeName(p.sprite).constData(), &spriteStat) == 0 &&
                         newerThan(spriteStat, maskStat))
                    p.existing = Existing::Replace;
                else
                    p.state = Plan::UpToDate;
            }
        }
        plans.append(p);
    }
    return plans;
}

int MaskCommand::parse(const QStringList &arguments)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Writes the mask of each sprite: pixels of the background become the mask "
                       "colour, all others the transparency colour."));
    p.addPositionalArgument(QStringLiteral("FILE|FOLDER"), QStringLiteral("Sprites to mask."),
                            QStringLiteral("FILE|FOLDER..."));
    const QCommandLineOption t({"t", "transparency"},
                               "A background colour of the sprites (default 000000); may be given "
                               "several times. RRGGBB, #RRGGBB, #RGB, R,G,B or a colour name.",
                               "COLOUR");
    const QCommandLineOption m(
        {"m", "mask"}, "The mask colour (default: the first transparency colour's opposite).",
        "COLOUR");
    const QCommandLineOption f({"f", "fuzz"},
                               "A pixel within N of a transparency colour in every channel is "
                               "background (0 to 255, default 0).",
                               "N");
    const QCommandLineOption a({"a", "alpha"},
                               "A pixel whose alpha is at most N is background (--alpha alone: 0). "
                               "Only attached: --alpha=N or -aN.",
                               "N");
    const QCommandLineOption s({"s", "suffix"}, "Added to each mask's name (default _mask).",
                               "TEXT", QStringLiteral("_mask"));
    const QCommandLineOption o({"o", "output-dir"},
                               "Write the masks into DIR, made when missing; with -r the folders "
                               "under each given folder are kept.",
                               "DIR");
    const QCommandLineOption format("format",
                                    "Mask files of this kind, named with its extension (default: "
                                    "BMP under the sprite's own extension).",
                                    "bmp|png");
    const QCommandLineOption depth(
        "depth", "Bits per pixel of the masks (default: 24 for BMP, 1 for PNG).", "1|24");
    const QCommandLineOption r({"r", "recursive"}, "Look into the folders' folders too.");
    const QCommandLineOption pattern("pattern",
                                     "Files of a folder to take (default: every picture the "
                                     "program reads); may be given several times.",
                                     "GLOB");
    const QCommandLineOption filesFrom("files-from",
                                       "Read more sprite names from FILE (- for "
                                       "standard input), one a line.",
                                       "FILE");
    const QCommandLineOption null({"0", "null"},
                                  "Names in --files-from end with NUL, not newline.");
    const QCommandLineOption update({"u", "update"},
                                    "Replace a mask only when its sprite is newer.");
    const QCommandLineOption overwrite("overwrite", "Replace masks that already exist.");
    const QCommandLineOption j({"j", "jobs"}, "Files masked at the same time (default: cores).",
                               "N");
    const QCommandLineOption logFile("log", "Write the run's log to FILE.", "FILE");
    const QCommandLineOption dry("dry-run", "Say what would be written; write nothing.");
    const QCommandLineOption q({"q", "quiet"}, "Report failures only.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption version({"v", "version"}, "Show the version.");
    for (const QCommandLineOption &opt :
         {t,         m,    f,      a,         s, o,       format, depth, r,    pattern,
          filesFrom, null, update, overwrite, j, logFile, dry,    q,     help, version})
        p.addOption(opt);

    Console console;
    const auto usage = [&](const QString &why) {
        console.err(QStringLiteral("pelloran-mask: ") + why);
        console.err(QStringLiteral("Try 'pelloran-mask --help'."));
        return int(BadUsage);
    };
    if (!p.parse(withAlphaValues(arguments)))
        return usage(p.errorText());
    if (p.isSet(help)) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return AllMasked;
    }
    if (p.isSet(version)) {
        std::printf("pelloran-mask %d.%d.%d\n", ProgramVersion.major, ProgramVersion.minor,
                    ProgramVersion.revision);
        return AllMasked;
    }

    MaskRule &rule = m_settings.rule;
    rule.keys.clear();
    for (const QString &text : p.isSet(t) ? p.values(t) : QStringList{QStringLiteral("000000")}) {
        const Colour c = parseColour(text);
        if (c == NoColour)
            return usage(QStringLiteral("bad transparency colour '%1' (use RRGGBB, #RRGGBB, #RGB, "
                                        "R,G,B or a colour name)")
                             .arg(text));
        rule.keys.push_back(c);
    }
    if (rule.keys.size() > 16)
        return usage(QStringLiteral("more than 16 transparency colours"));
    rule.mask = p.isSet(m) ? parseColour(p.value(m)) : complement(rule.keys.front());
    if (rule.mask == NoColour)
        return usage(QStringLiteral("bad mask colour '%1' (use RRGGBB, #RRGGBB, #RGB, R,G,B or a "
                                    "colour name)")
                         .arg(p.value(m)));
    if (p.isSet(f) && (rule.fuzz = byteValue(p.value(f))) < 0)
        return usage(QStringLiteral("bad fuzz '%1' (use 0 to 255)").arg(p.value(f)));
    if (p.isSet(a) && (rule.alpha = byteValue(p.value(a))) < 0)
        return usage(QStringLiteral("bad alpha '%1' (use 0 to 255)").arg(p.value(a)));
    m_suffix = p.value(s);
    if (const QString problem = MaskRun::suffixProblem(m_suffix); !problem.isEmpty())
        return usage(problem);
    if (p.isSet(format)) {
        m_formatGiven = p.value(format);
        if (m_formatGiven != QLatin1String("bmp") && m_formatGiven != QLatin1String("png"))
            return usage(QStringLiteral("bad format '%1' (use bmp or png)").arg(m_formatGiven));
        m_settings.kind.format =
            m_formatGiven == QLatin1String("png") ? MaskFormat::Png : MaskFormat::Bmp;
    }
    if (p.isSet(depth)) {
        if (p.value(depth) != QLatin1String("1") && p.value(depth) != QLatin1String("24"))
            return usage(QStringLiteral("bad depth '%1' (use 1 or 24)").arg(p.value(depth)));
        m_settings.kind.depth = p.value(depth).toInt();
    } else if (m_settings.kind.format == MaskFormat::Png) {
        // A mask has two colours: a PNG of two palette entries shows the same pixels as
        // one of 24 bits, in a tenth of the bytes to compress and write.
        m_settings.kind.depth = 1;
    }
    if (p.isSet(o)) {
        if (p.value(o).isEmpty())
            return usage(QStringLiteral("the output folder's name is empty"));
        m_outputDir = QDir::cleanPath(QDir::current().absoluteFilePath(p.value(o)));
    }
    m_overwrite = p.isSet(overwrite);
    m_update = p.isSet(update);
    if (m_overwrite && m_update)
        return usage(QStringLiteral("--update and --overwrite exclude each other"));
    m_recursive = p.isSet(r);
    m_pattern = p.isSet(pattern) ? p.values(pattern).join(QLatin1Char(';')) : pictureFilePattern();
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
    m_null = p.isSet(null);
    m_inputs = p.positionalArguments();
    if (p.isSet(filesFrom)) {
        m_listFile = p.value(filesFrom);
        if (!readList(m_listFile, m_inputs))
            return usage(QStringLiteral("cannot read the list '%1'").arg(m_listFile));
    } else if (m_null) {
        return usage(QStringLiteral("--null is for lists read with --files-from"));
    }
    if (m_inputs.isEmpty() && !p.isSet(filesFrom))
        return usage(QStringLiteral("no sprite files or folders given"));
    return -1;
}

int MaskCommand::run(const QStringList &arguments, const QList<QByteArray> &rawArguments)
{
    for (const QByteArray &raw : rawArguments)
        if (!nameRoundTrips(raw))
            m_lossyArguments.insert(QFile::decodeName(raw), raw);
    if (const int code = parse(arguments); code >= 0)
        return code;

    Console console;
    QElapsedTimer clock;
    clock.start();
    QList<Plan> plans;
    for (const auto &[name, why] : std::as_const(m_unreadable))
        plans.append({name, QString(), why, Plan::Failed});
    m_unreadable.clear();
    const QList<Input> inputs = expand(m_inputs);
    for (const auto &[name, why] : std::as_const(m_unreadable))
        plans.append({name, QString(), why, Plan::Failed});
    plans += plan(inputs);

    // Output folders are made before anything is written into them, one at a time.
    if (!m_dryRun && !m_outputDir.isEmpty()) {
        QHash<QString, QString> made;
        for (Plan &p : plans) {
            if (p.state != Plan::Mask)
                continue;
            const QString folder = p.mask.left(p.mask.lastIndexOf(QLatin1Char('/')));
            if (!made.contains(folder))
                made.insert(folder, makeFolder(folder));
            if (const QString problem = made.value(folder); !problem.isEmpty()) {
                p.state = Plan::Failed;
                p.problem = problem;
            }
        }
    }

    const auto report = [&](const Plan &p, FileJob::Outcome o, const QString &problem) {
        switch (o) {
        case FileJob::Outcome::Masked:
            if (!m_quiet)
                console.out((m_dryRun ? QStringLiteral("would mask ") : QStringLiteral("masked ")) +
                            p.sprite + QStringLiteral(" -> ") + p.mask);
            break;
        case FileJob::Outcome::Skipped:
            if (!m_quiet)
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

    if (!m_quiet)
        for (const QString &name : std::as_const(m_leftOut))
            console.out(QStringLiteral("left out ") + name +
                        QStringLiteral(": named like a mask (") + m_suffix + QStringLiteral(")"));

    int masked = 0, upToDate = 0, failed = 0;
    const auto count = [&](FileJob::Outcome o) {
        masked += o == FileJob::Outcome::Masked;
        upToDate += o == FileJob::Outcome::Skipped;
        failed += o == FileJob::Outcome::Failed;
    };

    if (m_dryRun) {
        for (const Plan &p : std::as_const(plans)) {
            report(p, outcomeOf(p.state), p.problem);
            count(outcomeOf(p.state));
        }
        if (!m_quiet)
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
        FileJob job(m_settings);
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
    for (size_t w = 0; w < std::min(size_t(m_jobs), work.size()); ++w)
        workers.emplace_back(worker);

    const bool bar = !m_quiet && isatty(fileno(stderr));
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

    if (!m_logFile.isEmpty()) {
        try {
            writeFileWhole(m_logFile, log.GetHistory().toUtf8());
        } catch (const RunError &e) {
            console.err(QStringLiteral("pelloran-mask: the log could not be written: ") +
                        e.description());
            ++failed;
        }
    }
    if (!m_quiet)
        console.err(QStringLiteral("pelloran-mask: %1 masked, %2 up to date, %3 failed in %4 s")
                        .arg(masked)
                        .arg(upToDate)
                        .arg(failed)
                        .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    console.clearBar();
    return failed ? SomeNotMasked : AllMasked;
}
