#include "desktopguard.h"
#include "webpanes/webpane.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebEngineProfile>

// A small HTTP server on loopback that answers every request with one page.
class PageServer : public QTcpServer
{
public:
    explicit PageServer(QByteArray page) : m_page(std::move(page))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_requests << socket->readAll().split(' ').value(1);
                    socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                  QByteArray::number(m_page.size()) + "\r\n\r\n" + m_page);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        listen(QHostAddress::LocalHost);
    }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }
    QList<QByteArray> m_requests;

private:
    QByteArray m_page;
};

class TestWebPanes : public QObject
{
    Q_OBJECT
private slots:
    void unreachablePageShowsBuiltInPage();
    void sidePaneSendsFollowedLinksToTheBrowser_data();
    void sidePaneSendsFollowedLinksToTheBrowser();
};

void TestWebPanes::unreachablePageShowsBuiltInPage()
{
    // Nothing listens on port 1 of loopback: the pane cannot load its page.
    WebPane pane(nullptr, QStringLiteral("<html><body>接続してください</body></html>"));
    QSignalSpy fallback(&pane, &WebPane::fallbackShown);
    QSignalSpy loaded(&pane, &QWebEngineView::loadFinished);
    pane.navigate(QStringLiteral("http://127.0.0.1:1/pelno/"));
    QVERIFY(fallback.wait(30000));
    QVERIFY(pane.showsFallback());
    QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty() && loaded.last().first().toBool(), 30000);

    // The text arrives through a callback that may outlive this function: it writes into shared storage.
    auto body = std::make_shared<QString>();
    pane.page()->toPlainText([body](const QString& text) { *body = text; });
    QTRY_VERIFY_WITH_TIMEOUT(body->contains(QStringLiteral("接続してください")), 30000);
}

void TestWebPanes::sidePaneSendsFollowedLinksToTheBrowser_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("path");
    QTest::newRow("clicked link") << QStringLiteral("document.getElementById('offer').click()")
                                  << QStringLiteral("/pelno/offer.htm");
    QTest::newRow("script navigation") << QStringLiteral("window.location.href = '/pelno/other.htm'")
                                       << QStringLiteral("/pelno/other.htm");
}

void TestWebPanes::sidePaneSendsFollowedLinksToTheBrowser()
{
    QFETCH(QString, script);
    QFETCH(QString, path);
    PageServer server("<html><body><a id=\"offer\" href=\"/pelno/offer.htm\">offer</a></body></html>");
    QVERIFY(server.isListening());
    const QString own = server.url(QStringLiteral("/pelno/rightside.htm"));

    WebPane pane;
    auto* page = new SidePanePage(own, &pane);
    pane.setPage(page);
    QSignalSpy loaded(&pane, &QWebEngineView::loadFinished);
    QSignalSpy external(page, &SidePanePage::openedExternally);
    pane.navigate(own);
    QVERIFY(loaded.wait(30000));
    QCOMPARE(loaded.first().first().toBool(), true);

    // Reloading the own page is allowed.
    loaded.clear();
    pane.reload();
    QVERIFY(loaded.wait(30000));
    QCOMPARE(external.count(), 0);

    page->runJavaScript(script);
    QVERIFY(external.wait(30000));
    QCOMPARE(external.first().first().toString(), server.url(path));
    QCOMPARE(openedAddresses().last(), server.url(path)); // handed to the desktop's browser
    QCOMPARE(pane.url().toString(), own);
    QVERIFY(!server.m_requests.contains(path.toUtf8()));
}

QTEST_MAIN(TestWebPanes)
#include "tst_webpanes.moc"
