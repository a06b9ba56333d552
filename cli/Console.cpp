#include "Console.h"

#include "FileOps.h"

void Console::bar(qsizetype done, qsizetype total, qint64 seconds)
{
    const int width = 30;
    const int filled = total ? int(done * width / total) : width;
    std::fprintf(stderr, "\r[%s%s] %lld/%lld files, %lld s", qPrintable(QString(filled, '#')),
                 qPrintable(QString(width - filled, '.')), qint64(done), qint64(total),
                 qint64(seconds));
    std::fflush(stderr);
    m_barShown = true;
}

void Console::clearBar()
{
    if (!m_barShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_barShown = false;
}

void Console::print(FILE *stream, const QString &line)
{
    clearBar();
    std::fputs(qPrintable(printableName(line) + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

void Console::outBytes(const QByteArray &line)
{
    clearBar();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
