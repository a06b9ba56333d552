#include "WatchPlanner.h"

#include "FileOps.h"
#include "RunUtils.h"
#include "SpriteFinder.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace
{

QString stemOf(const QString &path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return name.left(extensionAt(name));
}

} // namespace

WatchPlanner::WatchPlanner(const Options &options) : m_options(options)
{
    m_options.inputs.removeAll(QStringLiteral("-")); // standard input has nothing to watch
    m_options.overwrite = true;
    m_options.update = false;
    SpriteFinder finder(m_options);
    for (const SpriteFinder::Input &in : finder.expand(m_options.inputs))
        remember(in.sprite);
}

std::optional<WatchPlanner::Identity> WatchPlanner::identityOf(const QString &path)
{
    struct stat st;
    if (::stat(fileNameToBytes(path).constData(), &st) != 0)
        return std::nullopt;
    return Identity{qint64(st.st_dev),          qint64(st.st_ino),
                    qint64(st.st_size),         qint64(st.st_mtim.tv_sec),
                    qint64(st.st_mtim.tv_nsec), qint64(st.st_ctim.tv_sec),
                    qint64(st.st_ctim.tv_nsec)};
}

void WatchPlanner::remember(const QString &sprite)
{
    if (const std::optional<Identity> id = identityOf(sprite))
        m_known.insert(sprite, *id);
    else
        m_known.remove(sprite);
}

QList<Plan> WatchPlanner::plan(const QList<SpriteFinder::Input> &inputs)
{
    MaskPlanner planner(m_options);
    QList<Plan> plans = planner.plan({}, inputs);
    planner.makeFolders(plans);
    return plans;
}

QList<Plan> WatchPlanner::touched(const QSet<QString> &paths)
{
    SpriteFinder finder(m_options);
    const QStringList &inputs = m_options.inputs;
    QList<SpriteFinder::Input> found;
    QSet<QString> seen;
    const auto add = [&](const QString &path) {
        if (seen.contains(path))
            return;
        seen.insert(path);
        if (const std::optional<SpriteFinder::Input> in = finder.locate(inputs, path))
            found.append(*in);
    };
    for (const QString &path : paths) {
        const qsizetype before = found.size();
        add(path);
        if (found.size() == before)
            continue;
        // Masks share a name only between sprites of one name before the extension whose
        // masks go to one folder: the sprite's own, or with -o the same sub-folder of every
        // folder named.
        const SpriteFinder::Input in = found.last();
        QStringList folders{path.left(path.lastIndexOf(QLatin1Char('/')))};
        if (!m_options.outputDir.isEmpty())
            for (const QString &input : inputs) {
                const QString folder =
                    QDir::cleanPath(QDir(input).absolutePath() + QLatin1Char('/') + in.subfolder);
                if (QFileInfo(input).isDir()) {
                    if (!folders.contains(folder))
                        folders.append(folder);
                } else if (in.subfolder.isEmpty() && stemOf(input) == stemOf(path)) {
                    add(QDir::cleanPath(QDir(input).absolutePath()));
                }
            }
        for (const QString &folder : std::as_const(folders)) {
            DIR *dir = ::opendir(fileNameToBytes(folder).constData());
            while (const dirent *entry = dir ? ::readdir(dir) : nullptr)
                if (const QString name = fileNameFromBytes(entry->d_name);
                    stemOf(name) == stemOf(path))
                    add(folder + QLatin1Char('/') + name);
            if (dir)
                ::closedir(dir);
        }
    }
    std::sort(found.begin(), found.end(),
              [](const auto &a, const auto &b) { return a.sprite < b.sprite; });
    QList<Plan> plans = plan(found);
    plans.removeIf([&](const Plan &p) { return !paths.contains(p.sprite); });
    return plans;
}

QList<Plan> WatchPlanner::rescan()
{
    SpriteFinder finder(m_options);
    QList<Plan> plans = plan(finder.expand(m_options.inputs));
    QHash<QString, Identity> present;
    plans.removeIf([&](const Plan &p) {
        const std::optional<Identity> now = identityOf(p.sprite);
        if (now && m_known.contains(p.sprite))
            present.insert(p.sprite, m_known.value(p.sprite));
        return p.state != Plan::Mask || !now ||
               (m_known.value(p.sprite) == *now && entryExists(p.mask));
    });
    m_known = present; // the sprites gone are forgotten
    return plans;
}
