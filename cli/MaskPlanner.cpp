#include "MaskPlanner.h"

#include "MaskRun.h"
#include "Options.h"
#include "RunError.h"

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
      m_overwrite(options.overwrite), m_update(options.update), m_dryRun(options.dryRun)
{
}

QString MaskPlanner::maskOf(const SpriteFinder::Input &in) const
{
    const qsizetype slash = in.sprite.lastIndexOf(QLatin1Char('/'));
    QString name = MaskRun::outputName(in.sprite.mid(slash + 1), m_suffix);
    if (!m_formatGiven.isEmpty()) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        name = (dot > 0 ? name.left(dot) : name) + QLatin1Char('.') + m_formatGiven;
    }
    const QString folder = m_outputDir.isEmpty()    ? in.sprite.left(slash)
                           : in.subfolder.isEmpty() ? m_outputDir
                                                    : m_outputDir + QLatin1Char('/') + in.subfolder;
    return folder + QLatin1Char('/') + name;
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
    } else if (m_update && ::stat(fileNameToBytes(p.sprite).constData(), &spriteStat) == 0 &&
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
        plans.append({name, QString(), why, Plan::Failed});
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
        p.mask = maskOf(in);
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
    if (!m_dryRun)
        makeFolders(plans);
    return plans;
}

// Made before anything is written into them, one at a time: workers never race to make
// the same folder.
void MaskPlanner::makeFolders(QList<Plan> &plans) const
{
    if (m_outputDir.isEmpty())
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
