#pragma once

#include <QWebEnginePage>
#include <QWebEngineView>

// An embedded web pane. It is loaded by one navigation with the address alone; when the page cannot be loaded
// (no network) it shows a small built-in page instead of the browser's error page.
class WebPane : public QWebEngineView
{
    Q_OBJECT
public:
    explicit WebPane(QWidget* parent = nullptr, const QString& fallbackHtml = QString());

    void navigate(const QString& address);
    QString requestedAddress() const { return m_address; }
    bool showsFallback() const { return m_showsFallback; }

signals:
    void fallbackShown();

private:
    QString m_address;
    QString m_fallbackHtml;
    bool m_showsFallback = false;
};

// The side pane's page: every navigation passes the side-pane rule first.
class SidePanePage : public QWebEnginePage
{
    Q_OBJECT
public:
    SidePanePage(QString ownAddress, QObject* parent = nullptr);

    // Opened externally instead of shown in the pane (observable for the status of the pane).
signals:
    void openedExternally(const QString& address);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    friend class WebPane;
    QString m_ownAddress;
    bool m_loadingFallback = false;
};
