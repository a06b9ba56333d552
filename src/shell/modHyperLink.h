#pragma once

#include <QString>

class QWidget;

// The program's own addresses.
extern const QString WebsiteHost; // shown on the link labels
extern const QString WebsiteUrl;  // what they open
extern const QString EmailAddress;

// The e-mail link's target: "mailto:" + address + " ?subject=Pelloran " + version text,
// with its blanks exactly so.
QString mailTarget(const QString &versionText);

// Hands a web address, a mail address or a file to the desktop's handler for it. The target
// goes as one argument, never through a shell. When nothing can open it, the user is told.
void OpenLink(const QString &Target, const QString &Verb = QStringLiteral("open"),
              QWidget *parent = nullptr);

// Opens the help file, readme.txt beside the program, in the text editor.
void openHelp(QWidget *parent);
