#pragma once

#include <QString>

#include <cstdio>

// The terminal's two streams: per-file results go to standard output, everything else to
// standard error. While the progress bar stands on the terminal's last line, any other
// line first clears it, so that no line is printed over the bar's remains. Not shared
// between threads: only the thread that reports prints.
class Console
{
public:
    void out(const QString &line) { print(stdout, line); }
    void err(const QString &line) { print(stderr, line); }
    // A line of bytes on standard output as they are, for readers that are programs.
    void outBytes(const QByteArray &line);

    // Draws the bar over the terminal's last line; the next line printed replaces it.
    void bar(qsizetype done, qsizetype total, qint64 seconds);
    void clearBar();

private:
    // Every line printed is one line: names with control characters are shown escaped.
    void print(FILE *stream, const QString &line);

    bool m_barShown = false;
};
