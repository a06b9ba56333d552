#pragma once

#include <QString>
#include <stdexcept>

// A run-time failure with the number and description that the debug log records.
// Raised by the platform layer and the engine; caught only where a failure is expected
// to be logged and survived (masking one file, loading a picture).
class RunError : public std::exception
{
public:
    enum Number {
        Overflow = 6,
        OutOfMemory = 7,
        DivisionByZero = 11,
        FileNotFound = 53,
        FileAlreadyOpen = 55,
        DiskFull = 61,
        PermissionDenied = 70,
        PathNotFound = 76,
        InvalidPicture = 481,
    };

    RunError(int number, QString description);

    // The standard description for one of the numbers above.
    static RunError of(Number number, const QString &detail = QString());

    int number() const { return m_number; }
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_utf8;
};
