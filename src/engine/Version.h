#pragma once

#include <QString>

struct Version {
    int major, minor, revision;
};
constexpr Version ProgramVersion{1, 21, 0};

// "Version: 1.21"; a revision other than 0 follows the minor number directly (1.213).
inline QString versionText(Version v = ProgramVersion)
{
    QString text = QStringLiteral("Version: ") + QString::number(v.major) + QLatin1Char('.') +
                   QString::number(v.minor);
    if (v.revision != 0)
        text += QString::number(v.revision);
    return text;
}
