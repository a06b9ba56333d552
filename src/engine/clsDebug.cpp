#include "clsDebug.h"

#include "FileOps.h"
#include "RunError.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTime>

namespace
{

// The locale's long time format names the time zone with "t"; log lines leave it out.
QString longTimeFormatWithoutZone()
{
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.simplified();
}

} // namespace

QString clsDebug::dateText()
{
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

QString clsDebug::timeText()
{
    static const QString format = longTimeFormatWithoutZone();
    return QLocale::system().toString(QTime::currentTime(), format);
}

void clsDebug::Print_(const QString &Msg)
{
    m_history += QLatin1Char('[') + dateText() + QStringLiteral(" - ") + timeText() +
                 QStringLiteral("] ") + Msg + QStringLiteral("\r\n");
}

void clsDebug::Print_(const QString &Msg, const RunError &error)
{
    Print_(Msg + QStringLiteral(" (Err#") + QString::number(error.number()) + QStringLiteral(": ") +
           error.description() + QLatin1Char(')'));
}

void clsDebug::SaveHistory(const QString &hFilename, bool BackupOld) const
{
    if (m_createOnUse)
        QDir().mkpath(m_dataPath);
    const QString path = m_dataPath + hFilename;
    if (BackupOld && QFileInfo(path).isFile())
        copyFileReplacing(path, path + QStringLiteral(".bak"));
    writeFileWhole(path, m_history.toUtf8());
}
