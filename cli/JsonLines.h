#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// --json: one object a line, for programs to read. Names keep their bytes: a byte that is
// not part of UTF-8 (held as U+DC80..U+DCFF, see fileNameFromBytes) is written as the
// escape \udcXX, which Python's surrogateescape (os.fsencode) turns back into the byte; every
// other character is UTF-8, control characters escaped.
namespace JsonLines
{
// `text` as a JSON string, quotes included.
QByteArray string(const QString &text);

// One file's object. An empty `mask` is null; `problem` is the failure's description (its
// number and label are taken from it when it has them), or why a file was left out; a
// negative `size` is null.
struct File {
    QString sprite, mask;
    const char *outcome;
    QString problem;
    qint64 size = -1;
    double seconds = 0;
};
QByteArray file(const File &f);
} // namespace JsonLines
