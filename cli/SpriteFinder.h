#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

struct Options;

// True when a file's name, without its extension, ends with the masks' suffix: a mask of
// an earlier run, not a sprite. With no suffix no name is.
bool namedLikeMask(const QString &fileName, const QString &suffix);

// Turns the files and folders named on the command line or in a list into the sprites to
// mask. Names are taken as the file system has them: a name that is not UTF-8 cannot be
// opened under the text Qt makes of it, so it is refused rather than guessed at.
class SpriteFinder
{
public:
    // One sprite: where it is, and the folder under the output folder its mask goes to (""
    // for the output folder itself).
    struct Input {
        QString sprite;
        QString subfolder;
    };
    // An input that cannot be masked, found so before any file is read.
    struct Refused {
        QString name, why;
    };

    // `rawArguments` are the arguments as the system gave them, to tell which were not UTF-8.
    SpriteFinder(const Options &options, const QList<QByteArray> &rawArguments);

    // Appends the names of a list file, or of standard input for "-": one a line, or
    // NUL-separated with --null. False when the list cannot be opened.
    bool readList(const QString &listName, QStringList &inputs);
    // The sprites the inputs name, in their order; a folder's sorted by name.
    QList<Input> expand(const QStringList &inputs);
    const QList<Refused> &refused() const { return m_refused; }

private:
    void addInput(const QString &input, QList<Input> &found);
    // Adds the sprites of a folder, hidden ones included, by the names the file system has.
    void walk(const QByteArray &folder, const QByteArray &subfolder, QList<Input> &found);

    bool m_recursive, m_null;
    QString m_suffix, m_pattern;
    // Inputs whose text is not their name, by that text: the names they stand for.
    QHash<QString, QByteArray> m_lossyArguments;
    QList<Refused> m_refused;
};
