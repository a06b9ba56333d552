#pragma once

#include <QString>

// Whether `path` names an existing regular file that is not hidden (its name does not start
// with "."). A file name containing "*" or "?" is a pattern: true when any such file in the
// folder matches it, without regard to letter case ("*.*" matches every name, with or
// without a dot). A plain path is looked up exactly as the file system spells it, since that
// is the file a write would replace.
bool FileExists(const QString &path);

QString ReverseString(const QString &s);

// Whether a file name matches a pattern of the file lists: "*" and "?" wildcards, letter
// case ignored, "*.*" matching every name (with or without a dot), several patterns
// separated by ";".
bool matchesPattern(const QString &pattern, const QString &name);
