#pragma once

#include <QByteArray>
#include <QString>

// File writes that never leave half a file behind: the data goes to a temporary file in
// the same folder, which then replaces the target in one rename. Failures raise RunError
// with the number a user can look up (path not found, permission denied, disk full).
void writeFileWhole(const QString &path, const QByteArray &data);

// Copies a file over another, whole or not at all.
void copyFileReplacing(const QString &from, const QString &to);
