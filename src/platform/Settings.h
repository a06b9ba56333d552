#pragma once

#include <QString>

// The per-user settings store: texts addressed by section and key, for the one
// application "Pelloran". It lives in $XDG_CONFIG_HOME/Pelloran/Pelloran.ini; each write
// reaches the disk before the call returns, and is written to a temporary file first, so
// a crash or a full disk never leaves half a settings file.
QString GetSetting(const QString &section, const QString &key, const QString &defaultValue);
void SaveSetting(const QString &section, const QString &key, const QString &value);

// A stored check mark: "True" or "False" in any letter case, or a number (0 is false,
// anything else true). Anything else gives the default.
bool settingToBool(const QString &text, bool defaultValue);
QString boolToSetting(bool value);
