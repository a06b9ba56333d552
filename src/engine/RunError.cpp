#include "RunError.h"

#include <cerrno>
#include <cstring>

RunError::RunError(int number, QString description)
    : m_number(number), m_description(std::move(description)), m_utf8(m_description.toUtf8())
{
}

RunError RunError::of(Number number, const QString &detail)
{
    QString text;
    switch (number) {
    case Overflow: text = QStringLiteral("Overflow"); break;
    case OutOfMemory: text = QStringLiteral("Out of memory"); break;
    case DivisionByZero: text = QStringLiteral("Division by zero"); break;
    case SystemError: text = QStringLiteral("System error"); break;
    case NameTooLong: text = QStringLiteral("File name too long"); break;
    case FileNotFound: text = QStringLiteral("File not found"); break;
    case NotARegularFile: text = QStringLiteral("Not a regular file"); break;
    case FileAlreadyOpen: text = QStringLiteral("File already open"); break;
    case DeviceError: text = QStringLiteral("Device I/O error"); break;
    case FileAlreadyExists: text = QStringLiteral("File already exists"); break;
    case DiskFull: text = QStringLiteral("Disk full"); break;
    case TooManyOpenFiles: text = QStringLiteral("Too many open files"); break;
    case PermissionDenied: text = QStringLiteral("Permission denied"); break;
    case ReadOnlyFileSystem: text = QStringLiteral("Read-only file system"); break;
    case PathNotFound: text = QStringLiteral("Path not found"); break;
    case DamagedPicture: text = QStringLiteral("Damaged picture"); break;
    case InvalidPicture: text = QStringLiteral("Invalid picture"); break;
    }
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
