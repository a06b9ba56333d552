#pragma once

// pelloran-mask run as a user runs it: a process with arguments and standard input, its
// exit status and both output streams.

#include <QProcess>
#include <QString>
#include <QStringList>

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
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardError()),
            QString::fromUtf8(p.readAllStandardOutput())};
}

// Runs `script` in sh with $0 the command and $1... `args`: the way to hand it names as raw
// bytes (QProcess passes text) and to redirect its streams.
inline Run shell(const QString &script, const QStringList &args = {}, const QByteArray &input = {})
{
    return maskCommand(QStringList{"-c", script, PELLORAN_MASK_BIN} + args, input,
                       QStringLiteral("/bin/sh"));
}
