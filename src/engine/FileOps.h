#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// What a write does to an entry that already has the target's name.
//  Keep: nothing; the write fails with RunError::FileAlreadyExists. The name is taken in
//        the same step that puts the finished file in place, so whatever is there (a hidden
//        file, a FIFO, a dangling link, a folder, a file another run wrote a moment ago) is
//        never replaced.
//  Replace: a regular file the user may write is replaced and keeps its permission bits
//        (never setuid, setgid or sticky) and, where the user may give them, its owner
//        and group; a symbolic link is replaced itself, never followed. A read-only file, a folder,
//        a FIFO or a device is refused.
enum class Existing { Keep, Replace };

// What names this process's part files: "PID@HOST". A part file is ".NAME.partN-PID@HOST".
QByteArray partFileOwner();

// File writes that never leave half a file behind: the data goes to a file without a name
// (or a hidden temporary one) in the target's folder, which gets the target's name only
// once it is complete. Failures raise RunError with the number a user can look up.
void writeFileWhole(const QString &path, const QByteArray &data,
                    Existing existing = Existing::Replace);

// The same, for data produced piece by piece: write() as often as needed, then commit().
// A writer destroyed before commit() leaves the target as it was.
class WholeFileWriter
{
public:
    explicit WholeFileWriter(const QString &path, Existing existing = Existing::Replace);
    // Writes into an open file the caller keeps (an unnamed scratch file), named `name` in
    // messages; commit() has nothing left to do.
    WholeFileWriter(int intoFd, const QString &name);
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter &) = delete;
    WholeFileWriter &operator=(const WholeFileWriter &) = delete;

    void write(const char *data, qsizetype size);
    // Writes at a position of the file instead of after what was written last: a file whose
    // parts are made in another order than they are stored.
    void writeAt(qint64 position, const char *data, qsizetype size);
    void commit();

private:
    // `.NAME.part<N>-<PID>@<HOST>` in the target's folder: a later run on the same machine
    // can tell from the PID whether the writer is gone and the part an orphan.
    QByteArray hiddenName() const;
    void linkInPlace(const QByteArray &self);
    void replaceInPlace(const QByteArray &self);

    QString m_path;
    Existing m_existing;
    QByteArray m_dir, m_temp, m_target;
    int m_fd = -1;
    bool m_borrowed = false; // m_fd is the caller's
};

// Copies a file over another, whole or not at all.
void copyFileReplacing(const QString &from, const QString &to);

// A regular file opened for reading, read by position, never mapped: another program may
// shorten a file while it is read, which a mapping turns into a fatal signal. A read that
// finds fewer bytes than the file had when it was opened raises RunError::DamagedPicture
// ("changed while it was read"); so does checkUnchanged() for a file whose size,
// modification time or inode is not what it was at opening (an editor saving over it in
// place, or renaming another file over its name). Opening raises FileNotFound,
// NotARegularFile (a folder, a FIFO: never waited on) or the errno's failure.
// An InputFile may also stand for bytes already in memory (`name` in messages).
class InputFile
{
public:
    explicit InputFile(const QString &path);
    InputFile(const QByteArray &bytes, const QString &name);
    // Takes over `fd`, a regular file open for reading that no name leads to (an unnamed
    // scratch file, or standard input), named `name` in messages: checkUnchanged() then
    // checks the open file alone.
    InputFile(int fd, const QString &name);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    qint64 size() const { return m_size; }
    const QString &path() const { return m_path; }
    void readAt(qint64 position, char *into, qint64 length);
    void checkUnchanged();

    // For tests: called after every read of a file (not of bytes in memory) with its path
    // and the end of the bytes just read, on the reading thread.
    using ReadHook = std::function<void(const QString &path, qint64 end)>;
    static void setReadHook(ReadHook hook);

private:
    QString m_path;
    int m_fd = -1;
    qint64 m_size = 0;
    const char *m_bytes = nullptr; // the bytes in memory, when there is no file
    bool m_named = true;           // whether m_path leads to the open file
    struct Identity {
        qint64 device = 0, inode = 0, size = 0, seconds = 0, nanoseconds = 0;
        bool operator==(const Identity &) const = default;
    } m_identity;
    static Identity identityOf(const struct stat &st);
};

// Whether anything at all has this exact name: hidden files, FIFOs and dangling links
// count, and a link is not followed. Never a pattern.
bool entryExists(const QString &path);

// Names are bytes on Linux, and need not be UTF-8. A name's text keeps every byte: UTF-8
// sequences become their characters, and each byte that does not belong to one becomes a
// lone surrogate U+DC80..U+DCFF, which no valid UTF-8 can produce. fileNameToBytes gives
// back the exact bytes; Qt's own file functions do not, so such names reach the file
// system only through these two.
QString fileNameFromBytes(const QByteArray &rawName);
QByteArray fileNameToBytes(const QString &name);

// A name as it can be shown on one line of a report, one way for each name: the backslash
// is doubled, control characters are escaped ("\n", "\t", "\x1b"), so are the bytes that
// are not UTF-8 ("\xe9"), C1 controls and the format controls that reorder or break a line
// (bidi overrides and isolates, line and paragraph separators: "\u202e").
QString printableName(const QString &name);
QString printableName(const QByteArray &rawName);
