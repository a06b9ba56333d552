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
        SystemError = 51, // a failure without a label of its own: the system's words tell
        NameTooLong = 52,
        FileNotFound = 53,
        NotARegularFile = 54,
        FileAlreadyOpen = 55,
        DeviceError = 57,
        FileAlreadyExists = 58,
        DiskFull = 61,
        TooManyOpenFiles = 67,
        PermissionDenied = 70,
        ReadOnlyFileSystem = 75,
        PathNotFound = 76,
        DamagedPicture = 480,
        InvalidPicture = 481,
    };

    // The failure an errno value stands for, naming `path` (the name as the user knows it).
    static RunError fromErrno(int error, const QString &path);

    RunError(int number, QString description);

    // The standard description for one of the numbers above.
    static RunError of(Number number, const QString &detail = QString());
    // The words a number's description begins with ("Permission denied"); "" for others.
    static QString label(int number);
    // The number whose label a description begins with, as of() writes them; 0 for a text
    // no error of these numbers made.
    static int numberOf(const QString &description);

    int number() const { return m_number; }
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_utf8;
};
