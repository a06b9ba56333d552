#pragma once

#include "RunUtils.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include <sys/types.h>

struct Options;

// Turns the files and folders named on the command line or in a list into the sprites to
// mask. Names are the file system's bytes, held as fileNameFromBytes() text, so a name that
// is not UTF-8 is found, read and given a mask like any other.
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

    explicit SpriteFinder(const Options &options);

    // Appends the names of a list file, or of standard input for "-": one a line, or
    // NUL-separated with --null. Returns why the list cannot be read, or nothing.
    QString readList(const QString &listName, QStringList &inputs);
    // The sprites the inputs name, in their order; a folder's sorted by name.
    QList<Input> expand(const QStringList &inputs);
    const QList<Refused> &refused() const { return m_refused; }
    // The folders named that gave no sprite and no failure: likely a wrong folder or pattern.
    const QStringList &emptyFolders() const { return m_emptyFolders; }
    // `path` as expand() would give it among the inputs' sprites, or nothing: what a watch
    // asks of a file it saw change, without walking a tree again.
    std::optional<Input> locate(const QStringList &inputs, const QString &path) const;

private:
    void addInput(const QString &input, QList<Input> &found);
    // Adds the sprites of a folder, hidden ones included, by the names the file system has.
    void walk(const QByteArray &folder, const QByteArray &subfolder, QList<Input> &found);
    // Whether a file found in a folder is one to mask, by its name.
    bool takes(const QString &fileName) const;

    bool m_recursive, m_null;
    QString m_suffix, m_pattern, m_outputDir;
    // The output folder, when it exists: never walked, or a rerun would mask its masks.
    bool m_outputExists = false;
    dev_t m_outputDevice = 0;
    ino_t m_outputInode = 0;
    QList<Refused> m_refused;
    QStringList m_emptyFolders;
};
