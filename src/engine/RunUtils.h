#pragma once

#include <QString>

// Where the extension of the last name in `path` starts: at its last dot, unless that dot
// begins the name (".profile" is a hidden name, not an extension); path.size() when the
// name has none. A mask's name, the kind of mask a sprite gets and whether a file is a mask
// all go by this one rule.
qsizetype extensionAt(const QString &path);

// Whether a file is a mask an earlier run made with `suffix` (its name before the extension
// ends with it). Such files are left out when a folder is taken as sprites: masked again,
// they would give hero_mask_mask.bmp.
bool namedLikeMask(const QString &fileName, const QString &suffix);

// Whether a file name matches a pattern of the file lists: "*" and "?" wildcards, letter
// case ignored, "*.*" matching every name (with or without a dot), several patterns
// separated by ";".
bool matchesPattern(const QString &pattern, const QString &name);
