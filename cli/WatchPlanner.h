#pragma once

#include "MaskPlanner.h"
#include "Options.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// What the watch masks. A save re-plans only the files it touched (and the sprites whose
// masks would share a name with theirs, so that a clash comes out as in the first pass): a
// tree of thousands of sprites is not walked again for each. After lost events the whole
// tree is planned, and a sprite is taken as changed when what identifies its content (size,
// modification and change times to the nanosecond, inode, device) is not what it was when it
// was last masked, or when the watch began: a file put in place with an older time (mv,
// cp -p, tar, rsync -t) is a change too, which a comparison of times would miss.
class WatchPlanner
{
public:
    // Remembers every sprite as it is now. A changed sprite always replaces its mask.
    explicit WatchPlanner(const Options &options);

    QList<Plan> touched(const QSet<QString> &paths);
    // The sprites changed since they were remembered, and those whose mask is gone.
    QList<Plan> rescan();
    // Called just before a sprite is masked: later changes bring events of their own.
    void remember(const QString &sprite);

private:
    struct Identity {
        qint64 device = 0, inode = 0, size = 0, mtime = 0, mtimeNs = 0, ctime = 0, ctimeNs = 0;
        bool operator==(const Identity &) const = default;
    };
    static std::optional<Identity> identityOf(const QString &path);
    // Plans `inputs` as the first pass would; the output folders are made.
    QList<Plan> plan(const QList<SpriteFinder::Input> &inputs);

    Options m_options;
    QHash<QString, Identity> m_known;
};
