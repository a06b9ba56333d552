#include "Settings.h"

#include <QSettings>

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

} // namespace

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
