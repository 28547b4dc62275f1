#include "webpanes/webpane.h"

#include "webpanes/sidepanerule.h"

#include <QTimer>

namespace {
QString defaultFallback()
{
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head>"
                          "<body style=\"font-family: sans-serif; font-size: 12px; color: #444\">"
                          "<p>PELNO</p></body></html>");
}
} // namespace

WebPane::WebPane(QWidget* parent, const QString& fallbackHtml)
    : QWebEngineView(parent), m_fallbackHtml(fallbackHtml.isEmpty() ? defaultFallback() : fallbackHtml)
{
    connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
        if (ok || m_showsFallback)
            return;
        m_showsFallback = true;
        // The built-in page is loaded from the event loop, not from inside the failed load's own notification.
        QTimer::singleShot(0, this, [this] {
            if (auto* side = qobject_cast<SidePanePage*>(page()))
                side->m_loadingFallback = true; // the side page lets exactly this navigation through
            setHtml(m_fallbackHtml, QUrl(QStringLiteral("about:blank")));
            emit fallbackShown();
        });
    });
}

void WebPane::navigate(const QString& address)
{
    m_address = address;
    m_showsFallback = false;
    load(QUrl(address));
}

SidePanePage::SidePanePage(QString ownAddress, QObject* parent)
    : QWebEnginePage(parent), m_ownAddress(std::move(ownAddress))
{}

bool SidePanePage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    Q_UNUSED(type);
    // Our own built-in page replaces an unreachable one; it is not a navigation of the user's.
    if (m_loadingFallback || url.scheme() == QLatin1String("data")) {
        m_loadingFallback = false;
        return true;
    }
    // A main-frame navigation has no target frame name; one inside a named frame has.
    const QString targetFrame = isMainFrame ? QString() : QStringLiteral("frame");
    const QString address = url.toString();
    if (WebBrowser3BeforeNavigate2(address, targetFrame, m_ownAddress) == SideNavigation::Proceed)
        return true;
    OpenExternally(address);
    emit openedExternally(address);
    return false;
}
