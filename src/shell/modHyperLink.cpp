#include "modHyperLink.h"

#include "Desktop.h"
#include "Version.h"
#include "modMain.h"

#include <QFileInfo>
#include <QUrl>

const QString WebsiteUrl = QString::fromLatin1(ProjectHomepage);
// The labels are as wide as the old host name was; the repository's address is longer.
const QString WebsiteHost = QStringLiteral("pelloran on GitHub");
const QString EmailAddress = QString::fromLatin1(ProjectEmail);

QString mailTarget(const QString &versionText)
{
    return QStringLiteral("mailto:") + EmailAddress + QStringLiteral(" ?subject=Pelloran ") +
           versionText;
}

namespace
{

void tellCannotOpen(QWidget *parent, const QString &what)
{
    tell(parent, QStringLiteral("Nothing could be started to open ") + what + '.');
}

} // namespace

void OpenLink(const QString &Target, const QString &Verb, QWidget *parent)
{
    Q_UNUSED(Verb); // every link is opened; there is no other verb
    // A path is a file; anything else is an address.
    const QUrl url = Target.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(Target)
                                                         : QUrl(Target, QUrl::TolerantMode);
    if (!desktop().openUrl(url))
        tellCannotOpen(parent, Target);
}

void openHelp(QWidget *parent)
{
    const QString path = AppPath + QStringLiteral("readme.txt");
    if (!desktop().openUrl(QUrl::fromLocalFile(path)))
        tellCannotOpen(parent, QStringLiteral("the help file '") + path + '\'');
}
