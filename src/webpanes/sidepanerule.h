#pragma once

#include <QString>

// The side pane keeps its own page: a navigation to its own address proceeds, a navigation aimed at a named frame
// proceeds inside the pane, and any other (a followed link, a script changing the page) is cancelled and its
// address opened in the user's default browser instead.
enum class SideNavigation
{
    Proceed,
    OpenExternally
};

SideNavigation WebBrowser3BeforeNavigate2(const QString& address, const QString& targetFrameName,
                                          const QString& ownAddress);

// Opens the address in the user's default browser; the outcome is not examined.
void OpenExternally(const QString& address);
