#include "transfer/transferrate.h"

#include <QTest>

using Samples = QList<QPair<qint64, qint64>>; // (ms since start, bytes so far)
using OptionalRate = std::optional<double>;
Q_DECLARE_METATYPE(OptionalRate)

class TestTransferRate : public QObject
{
    Q_OBJECT
private slots:
    void rateAndTimeLeft_data();
    void rateAndTimeLeft();
    void formats_data();
    void formats();
};

// The rate over the window and the time left it gives, from samples as the one-second timer takes them.
void TestTransferRate::rateAndTimeLeft_data()
{
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<qint64>("remaining");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("left");

    QTest::newRow("no sample") << Samples{} << qint64(1000) << "--"
                               << "--:--:--";
    QTest::newRow("one sample") << Samples{{0, 0}} << qint64(1000) << "--"
                                << "--:--:--";
    QTest::newRow("span too short") << Samples{{0, 0}, {1000, 1 << 20}} << qint64(1000) << "--"
                                    << "--:--:--";
    QTest::newRow("steady 1 MB/s") << Samples{{0, 0}, {1000, 1 << 20}, {2000, 2 << 20}} << qint64(10 << 20)
                                   << "1.0 MB/s"
                                   << "00:00:10";
    QTest::newRow("KB/s below a megabyte")
        << Samples{{0, 0}, {2000, 1024 * 1000}} << qint64(1024 * 1500) << "500.0 KB/s"
        << "00:00:03";
    QTest::newRow("rounds the seconds up") << Samples{{0, 0}, {3000, 3000}} << qint64(1001) << "1.0 KB/s"
                                           << "00:00:02";
    // Only the last five seconds count: a fast start no longer inflates the rate.
    QTest::newRow("old samples fall out")
        << Samples{{0, 0}, {1000, 100 << 20}, {2000, 100 << 20}, {7000, (100 << 20) + 5 * 1024}} << qint64(3600 * 1024)
        << "1.0 KB/s"
        << "01:00:00";
    QTest::newRow("stalled: no estimate") << Samples{{0, 500}, {3000, 500}} << qint64(1) << "0.0 KB/s"
                                          << "--:--:--";
    QTest::newRow("nothing left") << Samples{{0, 0}, {3000, 0}} << qint64(0) << "0.0 KB/s"
                                  << "00:00:00";
    QTest::newRow("more than a day") << Samples{{0, 0}, {2000, 2048}} << qint64(1024) * 100 * 3600 << "1.0 KB/s"
                                     << "100:00:00";
    // A sample from the past or a shrinking count is dropped rather than turning the rate negative.
    QTest::newRow("out of order ignored")
        << Samples{{0, 0}, {2000, 4096}, {1000, 9999}, {3000, 100}} << qint64(2048) << "2.0 KB/s"
        << "00:00:01";
}

void TestTransferRate::rateAndTimeLeft()
{
    QFETCH(Samples, samples);
    QFETCH(qint64, remaining);
    TransferRateWindow window;
    for (const auto& [ms, bytes] : samples)
        window.addSample(ms, bytes);
    const OptionalRate rate = window.bytesPerSecond();
    QTEST(formatRate(rate), "rate");
    QTEST(formatTimeLeft(secondsLeft(remaining, rate)), "left");
}

void TestTransferRate::formats_data()
{
    QTest::addColumn<qint64>("files");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("totals");

    QTest::newRow("the example") << qint64(1000) << qint64(8.2 * 1024 * 1024) << qint64(4316)
                                 << "(1,000 ファイル, 8.2 MB, 1.9 MB/s)";
    QTest::newRow("small") << qint64(3) << qint64(17) << qint64(1000) << "(3 ファイル, 17 B, 0.0 KB/s)";
    QTest::newRow("kilobytes") << qint64(1) << qint64(3 * 1024) << qint64(2000) << "(1 ファイル, 3.0 KB, 1.5 KB/s)";
    QTest::newRow("zero time") << qint64(1) << qint64(1024) << qint64(0) << "(1 ファイル, 1.0 KB, 1000.0 KB/s)";
    QTest::newRow("nothing sent") << qint64(0) << qint64(0) << qint64(500) << "(0 ファイル, 0 B, 0.0 KB/s)";
}

void TestTransferRate::formats()
{
    QFETCH(qint64, files);
    QFETCH(qint64, bytes);
    QFETCH(qint64, elapsedMs);
    QTEST(completionTotals(files, bytes, elapsedMs), "totals");
}

QTEST_GUILESS_MAIN(TestTransferRate)
#include "tst_transferrate.moc"
