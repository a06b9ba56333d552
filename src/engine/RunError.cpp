#include "RunError.h"

#include <cerrno>
#include <cstring>

RunError::RunError(int number, QString description)
    : m_number(number), m_description(std::move(description)), m_utf8(m_description.toUtf8())
{
}

QString RunError::label(int number)
{
    switch (number) {
    case Overflow: return QStringLiteral("Overflow");
    case OutOfMemory: return QStringLiteral("Out of memory");
    case DivisionByZero: return QStringLiteral("Division by zero");
    case SystemError: return QStringLiteral("System error");
    case NameTooLong: return QStringLiteral("File name too long");
    case FileNotFound: return QStringLiteral("File not found");
    case NotARegularFile: return QStringLiteral("Not a regular file");
    case FileAlreadyOpen: return QStringLiteral("File already open");
    case DeviceError: return QStringLiteral("Device I/O error");
    case FileAlreadyExists: return QStringLiteral("File already exists");
    case DiskFull: return QStringLiteral("Disk full");
    case TooManyOpenFiles: return QStringLiteral("Too many open files");
    case PermissionDenied: return QStringLiteral("Permission denied");
    case ReadOnlyFileSystem: return QStringLiteral("Read-only file system");
    case PathNotFound: return QStringLiteral("Path not found");
    case DamagedPicture: return QStringLiteral("Damaged picture");
    case InvalidPicture: return QStringLiteral("Invalid picture");
    }
    return {};
}

int RunError::numberOf(const QString &description)
{
    static constexpr Number all[] = {
        Overflow,       OutOfMemory,      DivisionByZero,   SystemError,        NameTooLong,
        FileNotFound,   NotARegularFile,  FileAlreadyOpen,  DeviceError,        FileAlreadyExists,
        DiskFull,       TooManyOpenFiles, PermissionDenied, ReadOnlyFileSystem, PathNotFound,
        DamagedPicture, InvalidPicture};
    for (const Number n : all) {
        const QString l = label(n);
        if (description.startsWith(l) &&
            (description.size() == l.size() || description.mid(l.size(), 2) == QLatin1String(": ")))
            return n;
    }
    return 0;
}

RunError RunError::of(Number number, const QString &detail)
{
    QString text = label(number);
    if (!detail.isEmpty())
        text += QStringLiteral(": ") + detail;
    return RunError(number, text);
}

RunError RunError::fromErrno(int error, const QString &path)
{
    const QString detail =
        path + QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(error)) + ')';
    switch (error) {
    case ENOENT:
    case ENOTDIR: return of(PathNotFound, detail);
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return of(DiskFull, detail);
    case EROFS: return of(ReadOnlyFileSystem, detail);
    case ENAMETOOLONG: return of(NameTooLong, detail);
    case EEXIST: return of(FileAlreadyExists, detail);
    case EISDIR: return of(NotARegularFile, detail);
    case EIO: return of(DeviceError, detail);
    case EMFILE:
    case ENFILE: return of(TooManyOpenFiles, detail);
    case ENOMEM: return of(OutOfMemory, detail);
    case EACCES:
    case EPERM:
    case ETXTBSY: return of(PermissionDenied, detail);
    // Any other number: the label says nothing the detail does not.
    default: return of(SystemError, detail);
    }
}
