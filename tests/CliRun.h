#pragma once

// pelloran-mask run as a user runs it: a process with arguments and standard input, its
// exit status and both output streams.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <unistd.h>

struct Run {
    int code;
    QString err, out;
};

inline Run maskCommand(const QStringList &args, const QByteArray &input = {},
                       const QString &program = QStringLiteral(PELLORAN_MASK_BIN))
{
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(-1); // a hang is ctest's to end, however slow the machine
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardError()),
            QString::fromUtf8(p.readAllStandardOutput())};
}

// Runs `script` in bash with $0 the command and $1... `args`: the way to hand it names as raw
// bytes (QProcess passes text) and to redirect its streams.
inline Run shell(const QString &script, const QStringList &args = {}, const QByteArray &input = {})
{
    return maskCommand(QStringList{"-c", script, PELLORAN_MASK_BIN} + args, input,
                       QStringLiteral("/bin/bash"));
}

// Runs `script` in bash as shell() does, in the current folder, as a user whom file modes
// bind: the tests' own, or nobody when they run as root (as CI does), since root reads and
// writes whatever the modes say. Nobody is then given the current folder and runs a copy of
// the command, with the sanitizers' suppressions, from a folder of its own: the build may
// lie where nobody cannot reach. A folder nobody cannot reach ends the run with 125 and the
// reason on standard error, never with a pass.
inline Run unprivileged(const QString &script)
{
    const QString checked =
        QStringLiteral(
            "cd \"$PWD\" 2>/dev/null && [ -x \"$0\" ] || { echo \"$(id -un) cannot "
            "reach $PWD or run $0: a folder above is closed to others\" >&2; exit 125; }\n") +
        script;
    if (::geteuid() != 0)
        return shell(checked);
    static QTemporaryDir shared;
    static const QString program = shared.filePath(QStringLiteral("pelloran-mask"));
    static QString lsan = qEnvironmentVariable("LSAN_OPTIONS"),
                   tsan = qEnvironmentVariable("TSAN_OPTIONS");
    if (!QFile::exists(program)) {
        QFile::setPermissions(shared.path(), QFile::permissions(shared.path()) | QFile::ExeOther);
        QFile::copy(QStringLiteral(PELLORAN_MASK_BIN), program);
        for (QString *options : {&lsan, &tsan}) {
            const auto suppressions = QRegularExpression("suppressions=([^:]+)").match(*options);
            const QString copy = shared.filePath(QFileInfo(suppressions.captured(1)).fileName());
            if (suppressions.hasMatch() && QFile::copy(suppressions.captured(1), copy))
                options->replace(suppressions.captured(1), copy);
        }
    }
    QProcess::execute(QStringLiteral("chown"), {"-R", "nobody:", QDir::currentPath()});
    return maskCommand({"-u", "nobody", "--", "env", "LSAN_OPTIONS=" + lsan, "TSAN_OPTIONS=" + tsan,
                        "/bin/bash", "-c", checked, program},
                       {}, QStringLiteral("runuser"));
}
