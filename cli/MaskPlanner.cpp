#include "MaskPlanner.h"

#include "MaskRun.h"
#include "Options.h"
#include "RunError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <sys/stat.h>

namespace
{

bool newerThan(const struct stat &a, const struct stat &b)
{
    return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                                : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

// mkdir -p; the reason when a folder cannot be made.
QString makeFolder(const QString &path)
{
    const QByteArray raw = fileNameToBytes(path);
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

// Why what is at a mask's name is no earlier mask (a folder, a FIFO, a link to nothing or
// to a folder), so that it is not reported up to date; "" for a file or a link to one.
QString notAMask(const QByteArray &raw, const struct stat &st, const QString &mask)
{
    struct stat target = st;
    if (S_ISLNK(st.st_mode) && ::stat(raw.constData(), &target) != 0)
        return RunError::of(RunError::NotARegularFile,
                            mask + QStringLiteral(" is a link to nothing"))
            .description();
    if (S_ISREG(target.st_mode))
        return {};
    return RunError::of(RunError::NotARegularFile,
                        mask + (S_ISDIR(target.st_mode) ? QStringLiteral(" is a folder")
                                                        : QStringLiteral(" is not a regular file")))
        .description();
}

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

MaskPlanner::MaskPlanner(const Options &options)
    : m_suffix(options.suffix), m_formatGiven(options.formatGiven), m_outputDir(options.outputDir),
      m_depthGiven(options.depthGiven), m_overwrite(options.overwrite), m_update(options.update),
      m_dryRun(options.dryRun)
{
}

void MaskPlanner::nameMask(const SpriteFinder::Input &in, Plan &p) const
{
    const qsizetype slash = in.sprite.lastIndexOf(QLatin1Char('/'));
    QString name = MaskRun::outputName(in.sprite.mid(slash + 1), m_suffix);
    const qsizetype dot = extensionAt(name);
    const QString extension = name.mid(dot + 1).toLower();
    // A BMP or PNG sprite's mask keeps its extension as written (HERO.BMP, HERO_mask.BMP).
    const QString kind = !m_formatGiven.isEmpty()            ? m_formatGiven
                         : extension == QLatin1String("bmp") ? extension
                                                             : QStringLiteral("png");
    if (!m_formatGiven.isEmpty() || extension != kind)
        name = name.left(dot) + QLatin1Char('.') + kind;
    p.kind.format = kind == QLatin1String("png") ? MaskFormat::Png : MaskFormat::Bmp;
    // Two colours: a PNG of two palette entries shows the same pixels as one of 24 bits.
    p.kind.depth = m_depthGiven ? m_depthGiven : p.kind.format == MaskFormat::Png ? 1 : 24;
    const QString folder = m_outputDir.isEmpty()    ? in.sprite.left(slash)
                           : in.subfolder.isEmpty() ? m_outputDir
                                                    : m_outputDir + QLatin1Char('/') + in.subfolder;
    p.mask = folder + QLatin1Char('/') + name;
}

void MaskPlanner::decideExisting(Plan &p) const
{
    struct stat maskStat, spriteStat;
    const QByteArray mask = fileNameToBytes(p.mask);
    if (::lstat(mask.constData(), &maskStat) != 0)
        return;
    if (m_overwrite)
        p.existing = Existing::Replace;
    else if (const QString problem = notAMask(mask, maskStat, p.mask); !problem.isEmpty()) {
        // -u consents to replacing what is there; the writer still refuses a folder or FIFO.
        if (m_update)
            p.existing = Existing::Replace;
        else {
            p.state = Plan::Failed;
            p.problem = problem;
        }
    } else if (!m_update) {
        // Nothing was compared: the mask may well be older than its sprite, or made under
        // another rule, which no file tells.
        p.state = Plan::Kept;
    } else if (::stat(fileNameToBytes(p.sprite).constData(), &spriteStat) == 0 &&
               newerThan(spriteStat, maskStat))
        p.existing = Existing::Replace;
    else
        p.state = Plan::UpToDate;
}

QList<Plan> MaskPlanner::plan(const QList<SpriteFinder::Refused> &refused,
                              const QList<SpriteFinder::Input> &inputs)
{
    QList<Plan> plans;
    for (const auto &[name, why] : refused)
        plans.append({name, QString(), why, Plan::Failed, Existing::Keep, MaskOutput()});
    // A mask of an earlier run, named or listed (find -name '*.png' lists them too), is not
    // masked again: a rerun would otherwise add a mask of the mask each time.
    QSet<QString> sprites;
    QList<SpriteFinder::Input> kept;
    for (const SpriteFinder::Input &in : inputs) {
        if (namedLikeMask(fileNameOf(in.sprite), m_suffix)) {
            if (!m_leftOut.contains(in.sprite))
                m_leftOut.append(in.sprite);
        } else {
            sprites.insert(in.sprite);
            kept.append(in);
        }
    }
    QHash<QString, qsizetype> byMask;
    QSet<QString> seen;
    for (const SpriteFinder::Input &in : std::as_const(kept)) {
        if (seen.contains(in.sprite)) // the same file named twice is masked once
            continue;
        seen.insert(in.sprite);
        Plan p;
        p.sprite = in.sprite;
        nameMask(in, p);
        if (sprites.contains(p.mask)) {
            p.state = Plan::Failed;
            p.problem = QStringLiteral("its mask %1 would be written over a sprite being masked")
                            .arg(p.mask);
        } else if (const auto other = byMask.constFind(p.mask); other != byMask.cend()) {
            // Neither gets the name: which one a user meant cannot be guessed.
            Plan &first = plans[*other];
            p.state = Plan::Failed;
            p.problem = QStringLiteral("its mask %1 would also be the mask of %2")
                            .arg(p.mask, first.sprite);
            if (first.state != Plan::Failed) {
                first.state = Plan::Failed;
                first.problem = QStringLiteral("its mask %1 would also be the mask of %2")
                                    .arg(p.mask, p.sprite);
            }
        } else {
            byMask.insert(p.mask, plans.size());
            decideExisting(p);
        }
        plans.append(p);
    }
    return plans;
}

// Made before anything is written into them, one at a time: workers never race to make
// the same folder.
void MaskPlanner::makeFolders(QList<Plan> &plans) const
{
    if (m_outputDir.isEmpty() || m_dryRun)
        return;
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

namespace
{

// One name for one entry as far as names go: the folder's links resolved, the last part
// kept as it is. A folder not made yet keeps its clean absolute name.
QString entryKey(const QString &path)
{
    const QFileInfo info(QDir::current().absoluteFilePath(path));
    const QString folder = info.dir().canonicalPath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                            : folder + QLatin1Char('/') + info.fileName();
}

} // namespace

QString MaskPlanner::logProblem(const QString &log, const QList<Plan> &plans) const
{
    struct stat logStat;
    const bool there = ::lstat(QFile::encodeName(log).constData(), &logStat) == 0;
    if (there && !S_ISREG(logStat.st_mode))
        return QStringLiteral("the log %1 is not a regular file").arg(log);
    // The same name through a linked folder is caught by the folder's real name, the same
    // file under another name (a hard link) by its identity. Names are compared first: a
    // run of many sprites costs no call to the system for each.
    const QString logKey = entryKey(log), logName = fileNameOf(log);
    const auto same = [&](const QString &name) {
        const bool sameName = fileNameOf(name) == logName;
        if (sameName && entryKey(name) == logKey)
            return true;
        struct stat st;
        return there && (sameName || logStat.st_nlink > 1) &&
               ::lstat(QFile::encodeName(name).constData(), &st) == 0 &&
               st.st_dev == logStat.st_dev && st.st_ino == logStat.st_ino;
    };
    for (const Plan &p : plans) {
        if (same(p.sprite))
            return QStringLiteral("the log %1 would be written over the sprite %2")
                .arg(log, p.sprite);
        if (!p.mask.isEmpty() && same(p.mask))
            return QStringLiteral("the log %1 would be written over the mask %2").arg(log, p.mask);
    }
    for (const QString &name : m_leftOut)
        if (same(name))
            return QStringLiteral("the log %1 would be written over the mask %2").arg(log, name);
    return {};
}
