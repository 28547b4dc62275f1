#include "modal.h"
#include "testfiles.h"
#include "upload/tform5.h"
#include "uploadsession.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

// Uploads against a server that limits its connections, goes away for a while or stops taking the password: every
// dropped file arrives or is reported, and the waits in between end when the user stops or closes.
class TestUploadResilience : public QObject
{
    Q_OBJECT
private slots:
    void connectionLimitDeliversEverything_data();
    void connectionLimitDeliversEverything();
    void serverOutage_data();
    void serverOutage();
    void refusedPasswordFailsPromptly();
    void stopOrCloseEndsAWait_data();
    void stopOrCloseEndsAWait();
};

namespace {

constexpr int kPauseBeforeSecondRoundS = 3;
constexpr int kPauseBeforeThirdRoundS = 10;
constexpr int kConnectionWaitsS = 1 + 2 + 3; // a worker's waits before it gives up

// Files named f000..., each with its own content; returns their local paths.
QStringList writeFiles(UploadSession& s, int count, int size)
{
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        paths << s.localPath(QString("f%1").arg(i, 3, 10, QChar('0')));
        QByteArray bytes(size, char('a' + i % 26));
        bytes.prepend(QByteArray::number(i * 7919));
        if (!writeAll(paths.last(), bytes))
            return {};
    }
    return paths;
}

// The local paths whose file is not on the server with its full content.
QStringList notStored(const UploadSession& s, const QStringList& paths)
{
    QStringList missing;
    for (const QString& path : paths) {
        if (readAll(s.server.root() + "/" + QFileInfo(path).fileName()) != readAll(path))
            missing << path;
    }
    return missing;
}

} // namespace

void TestUploadResilience::connectionLimitDeliversEverything_data()
{
    QTest::addColumn<int>("reply");
    QTest::newRow("421 at the greeting") << int(FtpServerFixture::LimitReply::AtGreeting);
    QTest::newRow("530 to the password") << int(FtpServerFixture::LimitReply::AtPassword);
}

// A server that admits three connections per address: the workers it turns away hand their batches back, the run
// goes on over the connections it allows, and nothing fails, whichever way the server words the limit.
void TestUploadResilience::connectionLimitDeliversEverything()
{
    QFETCH(int, reply);
    UploadSession s;
    s.server.setMaxConnectionsPerAddress(3, FtpServerFixture::LimitReply(reply));
    QVERIFY(connectSession(s));
    const QStringList paths = writeFiles(s, 200, 2000);
    QCOMPARE(paths.size(), 200);

    QString message;
    answerNext(&message);
    QVERIFY(dropPaths(s.listViewport(), paths));
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。")), qPrintable(message));
    QCOMPARE(notStored(s, paths), QStringList{});
    QCOMPARE(s.form->sentCountLabel()->text(), QStringLiteral("200"));
    QCOMPARE(s.form->state().ResendRound, 1);
    // The limit was met (ten workers ask), and never exceeded.
    QVERIFY(s.server.refusedConnections() > 0);
    QVERIFY2(s.server.mostSimultaneousLogins() <= 3, qPrintable(QString::number(s.server.mostSimultaneousLogins())));
}

void TestUploadResilience::serverOutage_data()
{
    QTest::addColumn<int>("downMs"); // -1: for good
    QTest::newRow("back after 2 s") << 2000;
    QTest::newRow("gone for good") << -1;
}

// The server goes away in the middle of a run. Back two seconds later, it gets every file and nothing is
// reported; gone for good, every file not on it is reported, once the waits and pauses are over.
void TestUploadResilience::serverOutage()
{
    QFETCH(int, downMs);
    UploadSession s;
    // Slow enough that the run is under way when the server goes: each file takes about 0.1 s.
    s.server.setUploadRateLimit(200000);
    QVERIFY(connectSession(s));
    const QStringList paths = writeFiles(s, 200, 20000);
    QCOMPARE(paths.size(), 200);

    QString seen;
    QString title;
    answerNext(&seen, &title);
    QVERIFY(dropPaths(s.listViewport(), paths));
    QTRY_VERIFY_WITH_TIMEOUT(s.server.uploadWireBytes().size() >= 30, 30000);
    s.server.stop();
    QElapsedTimer clock;
    clock.start();
    if (downMs >= 0)
        QTimer::singleShot(downMs, this, [&s] { QVERIFY(s.server.start()); });
    QVERIFY(waitForBrowser(*s.form));
    const qint64 seconds = clock.elapsed() / 1000;

    if (downMs >= 0) {
        QVERIFY2(seen.startsWith(QStringLiteral("送信処理が終了しました。")), qPrintable(seen));
        QCOMPARE(notStored(s, paths), QStringList{});
        QCOMPARE(s.form->sentCountLabel()->text(), QStringLiteral("200"));
        return;
    }
    QCOMPARE(title, QStringLiteral("Form5"));
    const QStringList reported = sortedLines(seen);
    for (const QString& path : notStored(s, paths))
        QVERIFY2(reported.contains(path), qPrintable(path));
    for (const QString& path : reported)
        QVERIFY2(paths.contains(path), qPrintable(path));
    QCOMPARE(s.form->state().ResendRound, 3);
    // Both pauses were shown, and the run ended once three rounds of waits and the pauses were over.
    QVERIFY(s.statusTexts.contains(QStringLiteral("再送信まで %1 秒待っています").arg(kPauseBeforeSecondRoundS)));
    QVERIFY(s.statusTexts.contains(QStringLiteral("再送信まで %1 秒待っています").arg(kPauseBeforeThirdRoundS)));
    QVERIFY2(seconds >= kPauseBeforeSecondRoundS + kPauseBeforeThirdRoundS, qPrintable(QString::number(seconds)));
    QVERIFY2(seconds < 3 * kConnectionWaitsS + kPauseBeforeSecondRoundS + kPauseBeforeThirdRoundS + 10,
             qPrintable(QString::number(seconds)));
}

// The server stops taking the password in the middle of a run and ends each session after three uploads: the
// files not sent fail in all three rounds without the pauses that follow lost connections, and are reported.
void TestUploadResilience::refusedPasswordFailsPromptly()
{
    UploadSession s;
    s.server.setUploadRateLimit(200000);
    s.server.setChangesPerSession(3);
    QVERIFY(connectSession(s));
    const QStringList paths = writeFiles(s, 100, 20000);
    QCOMPARE(paths.size(), 100);

    QString seen;
    QElapsedTimer clock;
    qint64 reportedAfterMs = -1;
    whenModal(
        [&](QWidget* modal) {
            reportedAfterMs = clock.elapsed();
            if (auto* report = qobject_cast<TForm5*>(modal)) {
                seen = report->Memo1()->toPlainText();
                // the listing after the report must be able to log in
                s.server.refuseLogins(false);
                report->close();
                return;
            }
            seen = "not the report: " + modalText(modal);
            pressButton(modal);
        },
        60000);
    QVERIFY(dropPaths(s.listViewport(), paths));
    QTRY_VERIFY_WITH_TIMEOUT(s.server.uploadWireBytes().size() >= 10, 30000);
    s.server.refuseLogins();
    clock.start();
    QVERIFY(waitForBrowser(*s.form, 60000));
    // No pause: a refused login does not pass by waiting.
    QVERIFY2(reportedAfterMs >= 0 && reportedAfterMs < kPauseBeforeSecondRoundS * 1000,
             qPrintable(QString::number(reportedAfterMs)));

    const QStringList reported = sortedLines(seen);
    QVERIFY(!reported.isEmpty());
    QStringList missing = notStored(s, paths);
    missing.sort();
    QCOMPARE(reported, missing);
    QCOMPARE(s.form->state().ResendRound, 3);
    QVERIFY(s.statusTexts.filter(QStringLiteral("再送信まで")).isEmpty());
}

void TestUploadResilience::stopOrCloseEndsAWait_data()
{
    QTest::addColumn<bool>("close");         // else the stop button
    QTest::addColumn<bool>("betweenRounds"); // else during the workers' waits
    QTest::newRow("close while the workers wait") << true << false;
    QTest::newRow("close between rounds") << true << true;
    QTest::newRow("stop while the workers wait") << false << false;
    QTest::newRow("stop between rounds") << false << true;
}

// The server admits one connection and the test holds it: every worker is turned away and waits, then the round
// ends and the pause before the next begins. Closing the window or "中止" ends either wait at once.
void TestUploadResilience::stopOrCloseEndsAWait()
{
    QFETCH(bool, close);
    QFETCH(bool, betweenRounds);
    UploadSession s;
    s.server.setMaxConnectionsPerAddress(1);
    QVERIFY(connectSession(s));
    const QStringList paths = writeFiles(s, 20, 10);
    QCOMPARE(paths.size(), 20);
    QTcpSocket holder;
    holder.connectToHost(QStringLiteral("127.0.0.1"), s.server.port());
    QVERIFY(holder.waitForReadyRead(10000)); // the greeting: the server counts this connection
    auto* stop = s.form->findChild<QPushButton*>("StopButton");
    QVERIFY(stop);

    QString seen;
    if (!close)
        answerNext(&seen);
    QVERIFY(dropPaths(s.listViewport(), paths));
    if (betweenRounds) {
        QTRY_VERIFY_WITH_TIMEOUT(s.form->statusText().startsWith(QStringLiteral("再送信まで")),
                                 (kConnectionWaitsS + 10) * 1000);
    } else {
        // Every worker has been turned away twice: they are in their second or third wait (2 or 3 s).
        QTRY_VERIFY_WITH_TIMEOUT(s.server.refusedConnections() >= 20, 10000);
        QCOMPARE(s.form->statusText(), QStringLiteral("サーバーへの接続を待っています"));
    }
    QCOMPARE(s.form->state().ResendRound, betweenRounds ? 1 : 0);

    QElapsedTimer clock;
    clock.start();
    if (close) {
        s.form->close();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    } else {
        QTest::mouseClick(stop, Qt::LeftButton);
        holder.abort(); // lets the listing after the run log in
        QVERIFY(waitForBrowser(*s.form, 5000));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        // Whatever is not on the server is reported, and nothing twice.
        const QStringList reported = sortedLines(seen);
        QStringList missing = notStored(s, paths);
        missing.sort();
        QCOMPARE(reported, missing);
    }
    for (int slot = 0; slot < MainState::kSlotsPerKind; ++slot)
        QVERIFY(!s.form->state().WorkerSlots[slot]);
    QCOMPARE(s.form->state().ResendRound, 1);
}

QTEST_MAIN(TestUploadResilience)
#include "tst_uploadresilience.moc"
