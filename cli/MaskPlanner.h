#pragma once

#include "FileOps.h"
#include "MaskWriter.h"
#include "SpriteFinder.h"

#include <QList>
#include <QString>
#include <QStringList>

struct Options;

// What is done with one sprite, decided before any file is read.
struct Plan {
    // Kept: a mask is there and nothing asked to compare it with its sprite; UpToDate: -u
    // found it no older than its sprite.
    enum State { Mask, Kept, UpToDate, Failed };
    QString sprite, mask, problem;
    State state = Mask;
    Existing existing = Existing::Keep;
    MaskOutput kind; // the mask's content, which its extension names
};

// Names each sprite's mask and decides, from the names and the file system alone, which
// masks are written: a mask that would land on a sprite or on another sprite's mask is
// refused, one that exists is kept unless --update finds its sprite newer or --overwrite
// is given. A mask's kind goes by its sprite's extension, so that nothing is read to plan:
// BMP for *.bmp, PNG for any other sprite (named .png), or --format's for all.
class MaskPlanner
{
public:
    explicit MaskPlanner(const Options &options);

    // One plan for each input refused, then one for each sprite, in the inputs' order; a
    // sprite named twice is planned once.
    QList<Plan> plan(const QList<SpriteFinder::Refused> &refused,
                     const QList<SpriteFinder::Input> &inputs);
    // Why --log's file may not be written: it is a sprite, a mask or a left-out input of
    // the plans, or something other than a regular file. Empty when it may.
    QString logProblem(const QString &log, const QList<Plan> &plans) const;
    // Outside a dry run, makes the output folders of the masks to write; a mask whose
    // folder cannot be made fails.
    void makeFolders(QList<Plan> &plans) const;
    // Inputs named like masks, given by name or in a list: not masked again.
    const QStringList &leftOut() const { return m_leftOut; }

private:
    // Names the mask and sets its kind.
    void nameMask(const SpriteFinder::Input &in, Plan &p) const;
    // Whether an existing mask is kept (Kept, or UpToDate under -u) or replaced.
    void decideExisting(Plan &p) const;

    QString m_suffix, m_formatGiven, m_outputDir;
    int m_depthGiven;
    bool m_overwrite, m_update, m_dryRun;
    QStringList m_leftOut;
};
