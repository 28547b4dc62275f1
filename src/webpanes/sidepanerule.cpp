#include "webpanes/sidepanerule.h"

#include <QDesktopServices>
#include <QUrl>

SideNavigation WebBrowser3BeforeNavigate2(const QString& address, const QString& targetFrameName,
                                          const QString& ownAddress)
{
    if (address == ownAddress) // whole texts, letter case significant
        return SideNavigation::Proceed;
    if (targetFrameName.isEmpty())
        return SideNavigation::OpenExternally;
    return SideNavigation::Proceed;
}

void OpenExternally(const QString& address)
{
    QDesktopServices::openUrl(QUrl(address));
}
