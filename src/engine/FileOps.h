#pragma once

#include <QByteArray>
#include <QString>

// File writes that never leave half a file behind: the data goes to a temporary file in
// the same folder, which then replaces the target in one rename. Failures raise RunError
// with the number a user can look up (path not found, permission denied, disk full).
void writeFileWhole(const QString &path, const QByteArray &data);

// The same, for data produced piece by piece: write() as often as needed, then commit().
// A writer destroyed before commit() leaves the target as it was.
class WholeFileWriter
{
public:
    explicit WholeFileWriter(const QString &path);
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter &) = delete;
    WholeFileWriter &operator=(const WholeFileWriter &) = delete;

    void write(const char *data, qsizetype size);
    void commit();

private:
    void openNamedTemp();

    QString m_path;
    QByteArray m_dir, m_temp, m_target;
    int m_fd = -1;
};

// Copies a file over another, whole or not at all.
void copyFileReplacing(const QString &from, const QString &to);
