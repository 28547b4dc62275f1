#include "jobs/batchexchange.h"

#include <QTest>

class TestBatchExchange : public QObject
{
    Q_OBJECT
private slots:
    void fairBatchSize_data();
    void fairBatchSize();
};

void TestBatchExchange::fairBatchSize_data()
{
    QTest::addColumn<int>("queueLength");
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty queue") << 0 << 10 << 0;
    QTest::newRow("one file, ten workers") << 1 << 10 << 1;
    QTest::newRow("sixteen files spread over eight workers") << 16 << 10 << 2;
    QTest::newRow("nine left for ten") << 9 << 10 << 1;
    QTest::newRow("rounded up") << 21 << 10 << 3;
    QTest::newRow("a hundred for ten") << 100 << 10 << 10;
    QTest::newRow("never more than ten") << 1054 << 10 << 10;
    QTest::newRow("one worker takes ten") << 25 << 1 << 10;
    QTest::newRow("one worker, the rest") << 5 << 1 << 5;
    QTest::newRow("three workers") << 20 << 3 << 7;
    QTest::newRow("no worker counted yet") << 7 << 0 << 7;
}

void TestBatchExchange::fairBatchSize()
{
    QFETCH(int, queueLength);
    QFETCH(int, workers);
    QFETCH(int, expected);
    QCOMPARE(::fairBatchSize(queueLength, workers), expected);
}

QTEST_GUILESS_MAIN(TestBatchExchange)
#include "tst_batchexchange.moc"
