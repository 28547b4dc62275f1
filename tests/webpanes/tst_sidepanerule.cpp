#include "webpanes/sidepanerule.h"

#include <QTest>

// The side pane keeps its own page and sends every other main-frame address to the default browser.
class TestSidePaneRule : public QObject
{
    Q_OBJECT
private slots:
    void decision_data();
    void decision();
};

void TestSidePaneRule::decision_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<bool>("proceeds");

    const QString own = QStringLiteral("https://ads.example.com/pelno/rightside.htm");
    QTest::newRow("own page reloads") << own << QString() << true;
    QTest::newRow("own page in a frame") << own << QStringLiteral("side") << true;
    QTest::newRow("followed link") << QStringLiteral("https://ads.example.com/pelno/offer.htm") << QString() << false;
    QTest::newRow("letter case counts") << QStringLiteral("https://ads.example.com/pelno/RightSide.htm") << QString()
                                        << false;
    QTest::newRow("own page with a query is another address") << own + QStringLiteral("?x=1") << QString() << false;
    QTest::newRow("named frame proceeds inside")
        << QStringLiteral("https://ads.example.com/banner.htm") << QStringLiteral("banner") << true;
}

void TestSidePaneRule::decision()
{
    QFETCH(QString, address);
    QFETCH(QString, frame);
    QFETCH(bool, proceeds);
    const SideNavigation result =
        WebBrowser3BeforeNavigate2(address, frame, QStringLiteral("https://ads.example.com/pelno/rightside.htm"));
    QCOMPARE(result == SideNavigation::Proceed, proceeds);
}

QTEST_GUILESS_MAIN(TestSidePaneRule)
#include "tst_sidepanerule.moc"
