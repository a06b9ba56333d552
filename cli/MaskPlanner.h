#pragma once

#include "FileOps.h"
#include "SpriteFinder.h"

#include <QList>
#include <QString>
#include <QStringList>

struct Options;

// What is done with one sprite, decided before any file is read.
struct Plan {
    enum State { Mask, UpToDate, Failed };
    QString sprite, mask, problem;
    State state = Mask;
    Existing existing = Existing::Keep;
};

// Names each sprite's mask and decides, from the names and the file system alone, which
// masks are written: a mask that would land on a sprite or on another sprite's mask is
// refused, one that exists is kept unless --update finds its sprite newer or --overwrite
// is given.
class MaskPlanner
{
public:
    explicit MaskPlanner(const Options &options);

    // One plan for each input refused, then one for each sprite, in the inputs' order; a
    // sprite named twice is planned once. Outside a dry run, the output folders of the masks
    // to write are made here, and a mask whose folder cannot be made fails.
    QList<Plan> plan(const QList<SpriteFinder::Refused> &refused,
                     const QList<SpriteFinder::Input> &inputs);
    // Inputs named like masks, given by name or in a list: not masked again.
    const QStringList &leftOut() const { return m_leftOut; }

private:
    QString maskOf(const SpriteFinder::Input &in) const;
    // Whether an existing mask is kept (UpToDate) or replaced.
    void decideExisting(Plan &p) const;
    void makeFolders(QList<Plan> &plans) const;

    QString m_suffix, m_formatGiven, m_outputDir;
    bool m_overwrite, m_update, m_dryRun;
    QStringList m_leftOut;
};
