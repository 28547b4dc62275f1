#include "app/application.h"
#include "app/links.h"
#include "app/webpane.h"
#include "modal.h"
#include "testfiles.h"
#include "upload/tform5.h"
#include "uploadsession.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTime>
#include <QTimer>

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

QStringList sortedLines(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.sort();
    return lines;
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
    void batchesOfTenForOneFreeWorker();
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
    // Each file was tried once per round; each round needed one connection, the listing afterwards another.
    QCOMPARE(s.server.commands().filter(QRegularExpression("^\\d+ STOR ")).size(), 12);
    QCOMPARE(s.server.logins(), 4);
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
    s.server.setHeldUploadName(QString());
    QVERIFY(s.server.start());

    QString message;
    answerEnd(&message);
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")), qPrintable(message));
    QCOMPARE(s.form->state().ResendRound, 2);
    QCOMPARE(s.form->sentCountLabel()->text(), QStringLiteral("62"));
    for (int i = 0; i < 60; ++i)
        QCOMPARE(readAll(s.server.root() + QString("/m/f%1").arg(i, 2, 10, QChar('0'))), QByteArray::number(i * 7919));
    QCOMPARE(readAll(s.server.root() + "/m/f25_gate"), QByteArray("gate"));
    QVERIFY(!s.server.commands().filter(QRegularExpression("^\\d+ STOR /m/f25_gate$")).isEmpty());
}

// A server that refuses every connection: each batch gives up after its connect retries, in every round, and
// the report lists the whole queue.
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
    answerEnd(&listed, &title);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(dropPaths(s.listViewport(), expected));
    QVERIFY(waitForBrowser(*s.form));
    const qint64 seconds = clock.elapsed() / 1000;
    QCOMPARE(title, QStringLiteral("Form5"));
    QCOMPARE(sortedLines(listed), expected);
    // Three rounds of at most five waits of three seconds each.
    QVERIFY2(seconds < 3 * 5 * 3 + 10, qPrintable(QString::number(seconds)));
    const QTime shown = QTime::fromString(s.form->elapsedLabel()->text(), "hh:mm:ss");
    QVERIFY(shown.isValid());
    QVERIFY2(qAbs(shown.msecsSinceStartOfDay() / 1000 - seconds) <= 2, qPrintable(s.form->elapsedLabel()->text()));
}

// 26 entries and a single free slot: one worker takes batches of 10, 10 and 6, one connection each, and ends at
// the exchange that finds the queue empty.
void TestUploadRounds::batchesOfTenForOneFreeWorker()
{
    UploadSession s;
    QVERIFY(connectSession(s));
    SlotHolder holders[9];
    for (int slot = 1; slot < MainState::kSlotsPerKind; ++slot) {
        holders[slot - 1].start();
        s.form->state().WorkerSlots[slot] = &holders[slot - 1];
    }
    // With the folder's own entry, 26 entries.
    for (int i = 0; i < 25; ++i)
        QVERIFY(writeAll(s.localPath(QString("b/%1.txt").arg(i, 2, 10, QChar('0'))), QByteArray::number(i)));

    s.server.clearLog();
    QVERIFY(dropPaths(s.treeViewport(), {s.localPath("b")}));
    QTRY_VERIFY_WITH_TIMEOUT(!s.form->state().WorkerSlots[0], 30000);
    QCOMPARE(s.form->sentCountLabel()->text(), QStringLiteral("26"));
    QVERIFY(s.form->state().FailedList.isEmpty());
    QVERIFY(s.form->state().UploadQueue.isEmpty());
    QCOMPARE(s.server.logins(), 3);
    QList<int> perSession;
    QStringList sessions;
    for (const QString& command : s.server.commands()) {
        const QString session = command.section(' ', 0, 0);
        if (!sessions.contains(session)) {
            sessions << session;
            perSession << 0;
        }
        if (command.section(' ', 1, 1) == "STOR")
            ++perSession.last();
    }
    // The first batch begins with the folder, made with MKD.
    QCOMPARE(perSession, (QList<int>{9, 10, 6}));
    // The round is not over while the other slots are held.
    QCOMPARE(s.form->state().ResendRound, 0);
    QCOMPARE(s.form->currentLayout(), MainWindowPort::Layout::Progress);

    for (SlotHolder& holder : holders) {
        holder.requestInterruption();
        holder.wait();
    }
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
    answerEnd(&report);
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
    answerEnd(&message);
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

int main(int argc, char** argv)
{
    PelnoApplication app(argc, argv);
    TestUploadRounds test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_uploadrounds.moc"
