#pragma once

#include <QString>

#include <functional>

// The per-user settings store: texts addressed by section and key, for the one
// application "Pelloran". It lives in $XDG_CONFIG_HOME/Pelloran/Pelloran.ini; each write
// reaches the disk before the call returns, and is written to a temporary file first, so
// a crash or a full disk never leaves half a settings file.
QString GetSetting(const QString &section, const QString &key, const QString &defaultValue);
// A store that cannot be written (a read-only file or folder, a full disk) is reported once per
// process, on standard error and to `report` when one is given (the debug log); the program
// goes on with the settings it has.
void SaveSetting(const QString &section, const QString &key, const QString &value);
void reportSettingsNotSaved(std::function<void(const QString &message)> report);

// A stored check mark: "True" or "False" in any letter case, or a number (0 is false,
// anything else true). Anything else gives the default.
bool settingToBool(const QString &text, bool defaultValue);
QString boolToSetting(bool value);
