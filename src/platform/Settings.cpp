#include "Settings.h"

#include <QSettings>

#include <cstdio>

namespace
{

QSettings store()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Pelloran"),
                     QStringLiteral("Pelloran"));
}

QString keyOf(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

struct NotSaved {
    std::function<void(const QString &)> report;
    bool told = false;
};

NotSaved &notSaved()
{
    static NotSaved n;
    return n;
}

} // namespace

void reportSettingsNotSaved(std::function<void(const QString &message)> report)
{
    notSaved() = {std::move(report), false};
}

QString GetSetting(const QString &section, const QString &key, const QString &defaultValue)
{
    const QVariant v = store().value(keyOf(section, key));
    if (!v.isValid())
        return defaultValue;
    // A text with a comma that some other tool wrote unquoted reads back as a list.
    if (v.userType() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

void SaveSetting(const QString &section, const QString &key, const QString &value)
{
    QSettings s = store();
    s.setValue(keyOf(section, key), value);
    s.sync();
    NotSaved &n = notSaved();
    if (s.status() == QSettings::NoError || n.told)
        return;
    n.told = true;
    const QString message =
        QStringLiteral("The settings could not be saved to '%1': it or its folder cannot be "
                       "written. They stay as they are for this session.")
            .arg(s.fileName());
    std::fprintf(stderr, "pelloran: %s\n", qPrintable(message));
    if (n.report)
        n.report(message);
}

bool settingToBool(const QString &text, bool defaultValue)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double n = t.toDouble(&isNumber);
    if (isNumber)
        return n != 0;
    return defaultValue;
}

QString boolToSetting(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}
