#include "RunError.h"

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
    case FileNotFound: text = QStringLiteral("File not found"); break;
    case FileAlreadyOpen: text = QStringLiteral("File already open"); break;
    case DiskFull: text = QStringLiteral("Disk full"); break;
    case PermissionDenied: text = QStringLiteral("Permission denied"); break;
    case PathNotFound: text = QStringLiteral("Path not found"); break;
    case InvalidPicture: text = QStringLiteral("Invalid picture"); break;
    }
    if (!detail.isEmpty())
        text += QStringLiteral(": ") + detail;
    return RunError(number, text);
}
