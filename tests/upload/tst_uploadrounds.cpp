#include "app/application.h"
#include "connectdialog.h"
#include "modal.h"
#include "testcertificates.h"
#include "testfiles.h"
#include "threadguard.h"
#include "upload/tform5.h"
#include "uploadsession.h"
#include "vsftpdfixture.h"
#include "webpanes/links.h"
#include "webpanes/webpane.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <QTime>

#include <sys/stat.h>
#include <unistd.h>

namespace {

int occupiedUploadSlots(TForm1& form)
{
    int count = 0;
    for (int slot = 0; slot < MainState::kSlotsPerKind; ++slot)
        count += form.state().WorkerSlots[slot] ? 1 : 0;
    return count;
}

// Holds an upload slot the way a busy worker does, until asked to stop.
class SlotHolder : public QThread
{
protected:
    void run() override
    {
        while (!isInterruptionRequested())
            QThread::msleep(5);
    }
};

} // namespace

class TestUploadRounds : public QObject
{
    Q_OBJECT
private slots:
    void readOnlyTargetIsReportedOnce();
    void serverLostMidRunLosesNothing();
    void unreachableServerReportsEverything();
    void oneFreeWorkerKeepsItsConnection();
    void eachDirectoryOncePerRound();
    void refusedDirectoryIsAskedAgainEachRound();
    void batchesKeepTheirTransferType();
    void everyTlsDataConnectionIsAccepted_data();
    void everyTlsDataConnectionIsAccepted();
    void stopMidUploadAccountsForEveryFile();
    void rateAndTimeLeftDuringAnUpload();
};

// A directory the server refuses to write into: every file fails in all three rounds and is listed once, in the
// form it was queued in.
void TestUploadRounds::readOnlyTargetIsReportedOnce()
{
    UploadSession s;
    QVERIFY(connectSession(s, {{"ro"}, {}}));
    QVERIFY(selectNode(s, "ro"));
    const QString site = s.localPath("サイト <>");
    for (const char* name : {"a.txt", "sub/b.txt", ".c"})
        QVERIFY(writeAll(site + "/" + QString::fromUtf8(name), "x"));
    QVERIFY(writeAll(s.localPath("one two.txt"), "1"));
    // The folders cannot be created either, and are listed like the files.
    QStringList expected{"<>" + site + "<>" + site + "/",          "<>" + site + "<>" + site + "/sub/",
                         "<>" + site + "<>" + site + "/.c",        "<>" + site + "<>" + site + "/a.txt",
                         "<>" + site + "<>" + site + "/sub/b.txt", s.localPath("one two.txt")};
    expected.sort();

    s.server.clearLog();
    QString listed;
    QStringList problems;
    whenModal(
        [&](QWidget* modal) {
            auto* report = qobject_cast<TForm5*>(modal);
            if (!report) {
                problems << "not the report: " + modalText(modal);
                pressButton(modal);
                return;
            }
            if (report->windowTitle() != "Form5" || report->size() != QSize(409, 299))
                problems << "window";
            if (report->findChild<QGroupBox*>("GroupBox1")->title() != "送信に失敗したファイルがあります")
                problems << "group";
            if (!report->Memo1()->isReadOnly() || report->Memo1()->lineWrapMode() != QPlainTextEdit::NoWrap)
                problems << "memo";
            if (report->WebBrowser1()->requestedAddress() != links::kErrList)
                problems << "page";
            const QPoint offset = report->frameGeometry().center() - s.form->frameGeometry().center();
            if (offset.manhattanLength() > 4)
                problems << "not centred";
            listed = report->Memo1()->toPlainText();
            report->close();
        },
        60000);
    QVERIFY(dropPaths(s.treeViewport(), {site, s.localPath("one two.txt")}));
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(", ")));
    QCOMPARE(sortedLines(listed), expected);
    QCOMPARE(s.form->state().ResendRound, 3);
    QCOMPARE(s.form->sentCountLabel()->text(), QStringLiteral("0"));
    // Each file was tried once per round; each round needed connections of its own, the listing afterwards none.
    QCOMPARE(s.server.commands().filter(QRegularExpression("^\\d+ STOR ")).size(), 12);
    // Fair batches give each entry (four files, two folders) a worker of its own, which logs in once per round; the
    // listing goes over the browser's kept connection.
    QCOMPARE(s.server.logins(), 3 * 6);
    QCOMPARE(filesBelow(s.server.root() + "/ro"), QStringList{});
}

// The server goes away while a worker is in the middle of a file and comes back at once: what failed in round 1
// arrives in round 2, no file is lost and nothing is reported.
void TestUploadRounds::serverLostMidRunLosesNothing()
{
    UploadSession s;
    // The server holds the upload of "f25_gate" unanswered: its worker is inside that file when the server goes.
    s.server.setHeldUploadName("f25_gate");
    QVERIFY(connectSession(s));
    const QString folder = s.localPath("m");
    for (int i = 0; i < 60; ++i)
        QVERIFY(writeAll(folder + QString("/f%1").arg(i, 2, 10, QChar('0')), QByteArray::number(i * 7919)));
    QVERIFY(writeAll(folder + "/f25_gate", "gate"));

    QVERIFY(dropPaths(s.treeViewport(), {folder}));
    QCOMPARE(s.form->plannedCountLabel()->text(), QStringLiteral("62"));
    QTRY_VERIFY_WITH_TIMEOUT(!s.server.commands().filter(QRegularExpression("^\\d+ STOR /m/f25_gate$")).isEmpty(),
                             30000);
    s.server.stop();
    // What is not on the server now must come again in the second round, over the server started anew.
    QStringList left;
    for (int i = 0; i < 60; ++i) {
        const QString name = QString("f%1").arg(i, 2, 10, QChar('0'));
        if (!QFileInfo::exists(s.server.root() + "/m/" + name))
            left << name;
    }
    left << "f25_gate";
    s.server.setHeldUploadName(QString());
    QVERIFY(s.server.start());

    QString message;
    answerNext(&message);
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")), qPrintable(message));
    QCOMPARE(s.form->state().ResendRound, 2);
    QCOMPARE(s.form->sentCountLabel()->text(), QStringLiteral("62"));
    for (int i = 0; i < 60; ++i)
        QCOMPARE(readAll(s.server.root() + QString("/m/f%1").arg(i, 2, 10, QChar('0'))), QByteArray::number(i * 7919));
    QCOMPARE(readAll(s.server.root() + "/m/f25_gate"), QByteArray("gate"));
    QStringList resent;
    for (const QString& command : s.server.commands().filter(QRegularExpression("^\\d+ STOR /m/")))
        resent << command.section('/', 2);
    for (const QString& name : left)
        QVERIFY2(resent.contains(name), qPrintable(name));
}

// A server that refuses every connection: the workers give up after their waits, in every round, and the report
// lists the whole queue.
void TestUploadRounds::unreachableServerReportsEverything()
{
    UploadSession s;
    QVERIFY(connectSession(s));
    QStringList expected;
    for (int i = 0; i < 12; ++i) {
        expected << s.localPath(QString("f%1.txt").arg(i, 2, 10, QChar('0')));
        QVERIFY(writeAll(expected.last(), "x"));
    }
    s.server.stop();

    QString listed;
    QString title;
    answerNext(&listed, &title);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(dropPaths(s.listViewport(), expected));
    QVERIFY(waitForBrowser(*s.form));
    const qint64 seconds = clock.elapsed() / 1000;
    QCOMPARE(title, QStringLiteral("Form5"));
    QCOMPARE(sortedLines(listed), expected);
    // Three rounds of waits (1 + 2 + 3 s) and the pauses before the second and third round (3 and 10 s).
    QVERIFY2(seconds >= 3 + 10 && seconds < 3 * 6 + 3 + 10 + 10, qPrintable(QString::number(seconds)));
    const QTime shown = QTime::fromString(s.form->elapsedLabel()->text(), "hh:mm:ss");
    QVERIFY(shown.isValid());
    QVERIFY2(qAbs(shown.msecsSinceStartOfDay() / 1000 - seconds) <= 2, qPrintable(s.form->elapsedLabel()->text()));
}

// A single free slot and a server that ends each session after ten uploads: the worker's first batch of ten ends
// its first connection, the second batch (a FIFO first, so that the connection is gone before it begins) goes
// over a new login, and nothing fails.
void TestUploadRounds::oneFreeWorkerKeepsItsConnection()
{
    UploadSession s;
    s.server.setChangesPerSession(9);
    QVERIFY(connectSession(s));
    SlotHolder holders[9];
    ThreadGuard running;
    for (int slot = 1; slot < MainState::kSlotsPerKind; ++slot) {
        running.start(holders[slot - 1]);
        s.form->state().WorkerSlots[slot] = &holders[slot - 1];
    }
    // The folder's entry and f00-f08 make the first batch, h00-h08 the second.
    for (int i = 0; i < 9; ++i) {
        QVERIFY(writeAll(s.localPath(QString("b/f%1").arg(i, 2, 10, QChar('0'))), QByteArray::number(i)));
        QVERIFY(writeAll(s.localPath(QString("b/h%1").arg(i, 2, 10, QChar('0'))), QByteArray::number(i)));
    }
    QList<int> exchanged;
    connect(s.form->progressBar(), &QProgressBar::valueChanged, this, [&](int value) {
        if (value > 0)
            exchanged << value;
    });
    const auto storsPerSession = [&s] {
        QMap<int, int> stors;
        for (const QString& command : s.server.commands()) {
            if (command.section(' ', 1, 1) == "STOR")
                ++stors[command.section(' ', 0, 0).toInt()];
        }
        return stors;
    };

    s.server.clearLog();
    QVERIFY(dropPaths(s.treeViewport(), {s.localPath("b")}));
    QTRY_VERIFY_WITH_TIMEOUT(!s.form->state().WorkerSlots[0], 30000);

    QCOMPARE(exchanged, (QList<int>{10, 19}));
    QVERIFY(s.form->state().FailedList.isEmpty());
    QCOMPARE(filesBelow(s.server.root() + "/b").size(), 18);
    // The server ended the first session after its ninth upload; the second batch went over a new login.
    QCOMPARE(s.server.logins(), 2);
    QVERIFY(s.server.closedSessions().contains(storsPerSession().firstKey()));
    QCOMPARE(storsPerSession().values(), (QList<int>{9, 9}));
    // The round is not over while the other slots are held.
    QCOMPARE(s.form->state().ResendRound, 0);
    QCOMPARE(s.form->currentLayout(), MainWindowPort::Layout::Progress);
}

// "中止" in the middle of 1,000 files: the workers finish the file under way and take nothing more, no resend
// round follows, and every file is either on the server or in the report, never both and never neither.
void TestUploadRounds::stopMidUploadAccountsForEveryFile()
{
    UploadSession s;
    QVERIFY(connectSession(s));
    const QString folder = s.localPath("k");
    QStringList all;
    for (int i = 0; i < 1000; ++i) {
        const QString name = QString("d%1/f%2.bin").arg(i % 7).arg(i, 4, 10, QChar('0'));
        QVERIFY(writeAll(folder + "/" + name, QByteArray(512 + i, char(i))));
        all << "k/" + name;
    }
    all.sort();

    auto* stop = s.form->findChild<QPushButton*>("StopButton");
    QVERIFY(stop);
    QString report;
    answerNext(&report);
    QVERIFY(dropPaths(s.treeViewport(), {folder}));
    QVERIFY(stop->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(s.form->sentCountLabel()->text().toInt() > 0, 30000);
    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(waitForBrowser(*s.form));

    // Folder entries ("...k/d3/") are accounted like files; only the files are compared with the server.
    QStringList reported;
    int reportedFolders = 0;
    for (const QString& line : report.split('\n', Qt::SkipEmptyParts)) {
        if (line.endsWith('/'))
            ++reportedFolders;
        else
            reported << "k/" + line.section(folder + "/", -1);
    }
    reported.sort();
    QStringList stored = filesBelow(s.server.root());
    stored.sort();
    QVERIFY2(!reported.isEmpty(), "the upload ended before the stop took effect");
    QVERIFY(!stored.isEmpty());
    QStringList both = stored;
    both.removeIf([&](const QString& name) { return !reported.contains(name); });
    QCOMPARE(both, QStringList{});
    QStringList union_ = stored + reported;
    union_.sort();
    QCOMPARE(union_, all);
    constexpr int kFolders = 8; // k and its seven subfolders
    QCOMPARE(s.form->sentCountLabel()->text().toInt(), stored.size() + kFolders - reportedFolders);
    QCOMPARE(s.form->state().ResendRound, 1);
    QCOMPARE(occupiedUploadSlots(*s.form), 0);
    QVERIFY(s.form->state().UploadQueue.isEmpty());
}

// Transfer rate and time left while a file arrives over a slow line: both labels leave their "not yet" texts once
// the samples span enough time, and the completion message carries the totals.
void TestUploadRounds::rateAndTimeLeftDuringAnUpload()
{
    UploadSession s;
    // Large enough that the loopback's socket buffers (several MB) hold only the last second or so of it: the
    // client then waits for the server's final reply well within its reply time-out.
    s.server.setUploadRateLimit(8 << 20);
    QVERIFY(connectSession(s));
    const QString folder = s.localPath("r");
    QVERIFY(writeAll(folder + "/big.bin", QByteArray(48 << 20, 'x')));

    QLabel* rate = s.form->rateLabel();
    QLabel* left = s.form->timeLeftLabel();
    QString message;
    answerNext(&message);
    QVERIFY(dropPaths(s.treeViewport(), {folder}));
    QCOMPARE(rate->text(), QStringLiteral("--"));
    QCOMPARE(left->text(), QStringLiteral("--:--:--"));
    QTRY_VERIFY_WITH_TIMEOUT(QRegularExpression("^\\d+\\.\\d [KM]B/s$").match(rate->text()).hasMatch(), 20000);
    QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(left->text()).hasMatch(), qPrintable(left->text()));
    QVERIFY(waitForBrowser(*s.form, 60000));
    // The folder's own entry and the file.
    QVERIFY2(QRegularExpression("^送信処理が終了しました。\\(2 ファイル, \\d+\\.\\d MB, \\d+\\.\\d [KM]B/s\\)$")
                 .match(message)
                 .hasMatch(),
             qPrintable(message));
}

namespace {

// How often each argument of one command was sent ("MKD": directory -> count), whatever the session.
QMap<QString, int> argumentCounts(const QStringList& commands, const QString& verb)
{
    QMap<QString, int> counts;
    for (const QString& command : commands) {
        if (command.section(' ', 1, 1) == verb)
            ++counts[command.section(' ', 2)];
    }
    return counts;
}

} // namespace

// 100 files in 5 nested folders and all ten workers: each folder is created once, every worker that got files
// logged in once, and all files arrive.
void TestUploadRounds::eachDirectoryOncePerRound()
{
    UploadSession s;
    QVERIFY(connectSession(s));
    QString folder = "n";
    QStringList expected;
    for (int level = 1; level <= 5; ++level) {
        folder += QString("/d%1").arg(level);
        for (int i = 0; i < 20; ++i) {
            const QString name = folder + QString("/f%1.txt").arg(i, 2, 10, QChar('0'));
            QVERIFY(writeAll(s.localPath(name), name.toUtf8()));
            expected << name.mid(2);
        }
    }
    expected.sort();

    s.server.clearLog();
    QString message;
    answerNext(&message);
    QVERIFY(dropPaths(s.treeViewport(), {s.localPath("n")}));
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")), qPrintable(message));
    QCOMPARE(filesBelow(s.server.root() + "/n"), expected);
    for (const QString& name : expected)
        QCOMPARE(readAll(s.server.root() + "/n/" + name), ("n/" + name).toUtf8());

    const QStringList commands = s.server.commands();
    const QMap<QString, int> made = argumentCounts(commands, "MKD");
    QCOMPARE(made.keys(),
             (QStringList{"/n", "/n/d1", "/n/d1/d2", "/n/d1/d2/d3", "/n/d1/d2/d3/d4", "/n/d1/d2/d3/d4/d5"}));
    QCOMPARE(made.values(), QList<int>(6, 1));
    // Fair batches keep all ten workers busy; each logs in once, and the listing afterwards uses the browser's kept
    // connection.
    QSet<QString> storSessions;
    for (const QString& command : commands) {
        if (command.section(' ', 1, 1) == "STOR")
            storSessions.insert(command.section(' ', 0, 0));
    }
    QCOMPARE(storSessions.size(), 10);
    // Every folder was made in this round, so no folder entry needs a CWD to show that its folder exists.
    for (const QString& session : storSessions) {
        const QStringList sent = s.server.commandsOfSession(session.toInt());
        QCOMPARE(sent.filter(QRegularExpression("^USER ")).size(), 1);
        QCOMPARE(sent.filter(QRegularExpression("^CWD ")), QStringList());
    }
    QCOMPARE(s.server.logins(), 10);
}

// A folder the server refuses to create: its files fail in every round and are reported, its MKD is sent once
// per round, and the file beside it arrives.
void TestUploadRounds::refusedDirectoryIsAskedAgainEachRound()
{
    UploadSession s;
    QVERIFY(connectSession(s, {{"w/ro"}, {}}));
    const QString site = s.localPath("w");
    QVERIFY(writeAll(site + "/ok.txt", "ok"));
    QStringList expected;
    for (const char* name : {"ro/sub/1.txt", "ro/sub/2.txt", "ro/sub/deeper/3.txt"}) {
        QVERIFY(writeAll(site + "/" + name, name));
        expected << "<>" + site + "<>" + site + "/" + name;
    }
    // The two folders that cannot be created are reported like files; ro itself exists.
    for (const char* name : {"ro/sub/", "ro/sub/deeper/"})
        expected << "<>" + site + "<>" + site + "/" + name;
    expected.sort();

    s.server.clearLog();
    QString listed;
    answerNext(&listed);
    QVERIFY(dropPaths(s.treeViewport(), {site}));
    QVERIFY(waitForBrowser(*s.form));
    QCOMPARE(sortedLines(listed), expected);
    QCOMPARE(s.form->state().ResendRound, 3);
    QCOMPARE(readAll(s.server.root() + "/w/ok.txt"), QByteArray("ok"));
    QCOMPARE(filesBelow(s.server.root() + "/w/ro"), QStringList{});

    // Round 1 asks for /w once; rounds 2 and 3 only carry the refused files and ask again for their folders.
    const QMap<QString, int> made = argumentCounts(s.server.commands(), "MKD");
    QCOMPARE(made.value("/w"), 3);
    QCOMPARE(made.value("/w/ro"), 3);
    QCOMPARE(made.value("/w/ro/sub"), 3);
    // /w/ro/sub/deeper can only follow a created /w/ro/sub; it is asked for once per round all the same.
    QCOMPARE(made.value("/w/ro/sub/deeper"), 3);
}

// Ten folders of twenty images and twenty pages whose names alternate, types sniffed: every file arrives in its own
// type, and the workers' batches mostly keep the type their connection is set to, so the server is told fewer TYPEs
// than the forty batches of ten that the queue, sorted by path, would give.
void TestUploadRounds::batchesKeepTheirTransferType()
{
    UploadSession s;
    QVERIFY(connectSession(s));
    // More than five control bytes in the first kilobyte make a file binary.
    const QByteArray image = QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(8, '\0') + "IHDR\r\n";
    const QByteArray page("<p>text</p>\r\n<p>more</p>\r\n");
    QMap<QString, QByteArray> stored;
    for (int folder = 0; folder < 10; ++folder) {
        for (int i = 0; i < 20; ++i) {
            const QString stem = QString("t/d%1/").arg(folder) + QString::number(i).rightJustified(2, '0');
            QVERIFY(writeAll(s.localPath(stem + ".png"), image));
            QVERIFY(writeAll(s.localPath(stem + ".html"), page));
            stored.insert(stem + ".png", image);
            stored.insert(stem + ".html", storedAsText(page));
        }
    }

    s.server.clearLog();
    QString message;
    answerNext(&message);
    QVERIFY(dropPaths(s.treeViewport(), {s.localPath("t")}));
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")), qPrintable(message));
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        QCOMPARE(readAll(s.server.root() + "/" + it.key()), it.value());
    const qsizetype types = s.server.commands().filter(QRegularExpression("^\\d+ TYPE ")).size();
    // Each worker's first batch sets both types; batches taken in queue order would switch at least once each.
    QVERIFY2(types < 40, qPrintable(QString::number(types)));
}

void TestUploadRounds::everyTlsDataConnectionIsAccepted_data()
{
    QTest::addColumn<QString>("maxTls");
    QTest::newRow("TLS 1.3") << QString();
    QTest::newRow("TLS 1.2") << QStringLiteral("TLSv1.2");
}

// vsftpd with TLS required and require_ssl_reuse: it refuses a data connection that does not resume the control
// connection's TLS session with 522. Three hundred small files (each upload done before the server's next ticket
// could arrive) all arrive in the first round, each sent once, and the server never refused a data connection.
void TestUploadRounds::everyTlsDataConnectionIsAccepted()
{
    QFETCH(QString, maxTls);
    if (!VsftpdFixture::isAvailable())
        QSKIP("vsftpd needs root to lock its sessions into their folder");
    TestCertificates certificates;
    const TestCertificates::Pair pair =
        certificates.signedByAuthority(QStringLiteral("127.0.0.1"), QStringLiteral("IP:127.0.0.1"));
    QVERIFY(pair.isValid());
    const QByteArray trusted = qgetenv("SSL_CERT_FILE");
    qputenv("SSL_CERT_FILE", QFile::encodeName(certificates.authority()));
    const auto restoreTrust = qScopeGuard([&trusted] {
        if (trusted.isEmpty())
            qunsetenv("SSL_CERT_FILE");
        else
            qputenv("SSL_CERT_FILE", trusted);
    });
    VsftpdFixture server;
    QVERIFY(server.start(pair.certificate, pair.key, maxTls));

    UploadSession s;
    s.form = showMainWindow();
    QVERIFY(s.form);
    connectLikeAUser(*s.form, server.host(), VsftpdFixture::user(), QStringLiteral("guest"));
    QCOMPARE(s.form->currentLayout(), MainWindowPort::Layout::Browser);
    QMap<QString, QByteArray> sent;
    for (int i = 0; i < 300; ++i) {
        const QString name = QString("site/d%1/f%2.bin").arg(i % 3).arg(i, 3, 10, QChar('0'));
        sent.insert(name, QByteArray::number(i * 7919) + QByteArray(1000 + i, char('a' + i % 26)));
        QVERIFY(writeAll(s.localPath(name), sent.value(name)));
    }

    QVERIFY(selectNode(s, QStringLiteral("pub")));
    QString message;
    answerNext(&message);
    QVERIFY(dropPaths(s.treeViewport(), {s.localPath("site")}));
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")), qPrintable(message));
    QCOMPARE(s.form->state().ResendRound, 1);
    for (auto it = sent.cbegin(); it != sent.cend(); ++it)
        QCOMPARE(readAll(server.writable() + "/" + it.key()), it.value());
    QCOMPARE(server.replies(522), 0);
    QCOMPARE(server.commands(QStringLiteral("STOR")), 300);
    // The uploads really went over TLS data connections that resumed the control connection's session.
    const QString version = maxTls.isEmpty() ? QStringLiteral("TLSv1.3") : maxTls;
    QVERIFY(server.log()
                .filter(QStringLiteral("SSL version: %1").arg(version))
                .filter(QStringLiteral(", reused,"))
                .size() >= 300);
}

int main(int argc, char** argv)
{
    PelnoApplication app(argc, argv);
    TestUploadRounds test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_uploadrounds.moc"
