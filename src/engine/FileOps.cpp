#include "FileOps.h"

#include "RunError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

RunError openError(const QString &path, const QString &why)
{
    const QFileInfo info(path);
    if (!info.dir().exists())
        return RunError::of(RunError::PathNotFound, path);
    if (info.isDir())
        return RunError::of(RunError::PermissionDenied, path + QStringLiteral(" is a folder"));
    return RunError::of(RunError::PermissionDenied, path + QStringLiteral(" (") + why + ')');
}

} // namespace

void writeFileWhole(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw openError(path, file.errorString());
    if (file.write(data) != data.size() || !file.commit()) {
        const QString why = file.errorString();
        file.cancelWriting();
        throw RunError::of(RunError::DiskFull, path + QStringLiteral(" (") + why + ')');
    }
}

void copyFileReplacing(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        throw RunError::of(source.exists() ? RunError::PermissionDenied : RunError::FileNotFound,
                           from);
    writeFileWhole(to, source.readAll());
}
