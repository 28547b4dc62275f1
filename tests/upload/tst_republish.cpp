#include "app/application.h"
#include "ftp/ftpconnection.h"
#include "ftp/ftpsession.h"
#include "modal.h"
#include "settings/appconfig.h"
#include "testfiles.h"
#include "uploadsession.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <optional>
#include <sys/stat.h>

namespace {

bool setModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
}

void checkChangedOnly(TForm1& form, bool on)
{
    auto* box = form.findChild<QCheckBox*>(QStringLiteral("ChangedOnlyBox"));
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->text(), QStringLiteral("変更分のみ送信"));
    if (box->isChecked() != on)
        box->click();
}

// Drops the paths on the tree and waits for the end; the message or the report's text.
QString publish(UploadSession& s, const QStringList& paths)
{
    QString shown;
    answerNext(&shown);
    if (!dropPaths(s.treeViewport(), paths))
        return QStringLiteral("drop refused");
    if (!waitForBrowser(*s.form))
        return QStringLiteral("no end");
    return shown;
}

// The files that got new content on the server since the log was cleared: put under their own name, or renamed
// onto it. Paths relative to the root.
QStringList putNames(const FtpServerFixture& server)
{
    QStringList names;
    static const QRegularExpression put(QStringLiteral("^\\d+ (STOR|RNTO) /(.*)$"));
    for (const QString& command : server.commands()) {
        const QRegularExpressionMatch match = put.match(command);
        if (match.hasMatch() && !match.captured(2).section('/', -1).startsWith(QStringLiteral(".pelno-")))
            names << match.captured(2);
    }
    names.sort();
    return names;
}

// Over SFTP the server keeps no log of puts. A put replaces the file (a new inode) or writes into it (a new change
// time), so a file's inode and change time, taken after the server was prepared, tell whether it got new content.
using Stamps = QMap<QString, QString>;

Stamps stampsBelow(const QString& root)
{
    Stamps stamps;
    for (const QString& name : filesBelow(root)) {
        struct stat info = {};
        if (::stat(QFile::encodeName(root + '/' + name).constData(), &info) == 0)
            stamps.insert(
                name, QStringLiteral("%1 %2.%3").arg(info.st_ino).arg(info.st_ctim.tv_sec).arg(info.st_ctim.tv_nsec));
    }
    return stamps;
}

QStringList putNamesSince(const QString& root, const Stamps& before)
{
    QStringList names;
    const Stamps now = stampsBelow(root);
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (before.value(it.key()) != it.value() && !it.key().section('/', -1).startsWith(QStringLiteral(".pelno-")))
            names << it.key();
    }
    return names;
}

QStringList temporaryFiles(const QString& root)
{
    return filesBelow(root).filter(QRegularExpression(QStringLiteral("(^|/)\\.pelno-")));
}

QString unchangedText(int count)
{
    return QStringLiteral("変更のないファイル %1 件は送信しませんでした。").arg(count);
}

} // namespace

class TestRepublish : public QObject
{
    Q_OBJECT
private slots:
    // A site published with the box on, converted to Shift-JIS with the type decided per file, then changed in one
    // way and dropped again: only what the row names is put.
    void redrop_data();
    void redrop();
    void stopThenDropAgain();
    void stopWhileComparing();
    // A reader fetching the file over and over while it is replaced sees the old or the new content, never a part.
    void liveFileReplacedWhole_data();
    void liveFileReplacedWhole();
};

void TestRepublish::redrop_data()
{
    QTest::addColumn<bool>("sftp");
    QTest::addColumn<bool>("mlsd");
    QTest::addColumn<QString>("step");
    QTest::addColumn<QStringList>("expectedPut");
    const QStringList all{"in/a.txt", "in/b.txt", "in/c.html", "in/img/p.bin"};
    QTest::newRow("unchanged") << false << true << "none" << QStringList();
    QTest::newRow("unchanged, server without MLSD") << false << false << "none" << QStringList();
    QTest::newRow("edited, same size") << false << true << "edit" << QStringList{"in/a.txt"};
    QTest::newRow("touched, same content") << false << true << "touch" << QStringList();
    QTest::newRow("changed on the server") << false << true << "server" << QStringList{"in/c.html"};
    QTest::newRow("record lost") << false << true << "forget" << QStringList();
    QTest::newRow("record lost, server without MLSD") << false << false << "forget" << QStringList();
    QTest::newRow("damaged record") << false << true << "damage" << QStringList();
    QTest::newRow("another charset") << false << true << "charset" << all;
    QTest::newRow("leftover of ours") << false << true << "leftover" << QStringList();
    QTest::newRow("folder gone on the server") << false << true << "rmdir" << QStringList{"in/img/p.bin"};
    // SFTP lists through ls -l lines: minute precision, and the server's time for every file.
    QTest::newRow("unchanged over SFTP") << true << false << "none" << QStringList();
    QTest::newRow("edited, same size, over SFTP") << true << false << "edit" << QStringList{"in/a.txt"};
    QTest::newRow("touched, same content, over SFTP") << true << false << "touch" << QStringList();
    QTest::newRow("changed on the server, over SFTP") << true << false << "server" << QStringList{"in/c.html"};
    QTest::newRow("record lost, over SFTP") << true << false << "forget" << QStringList();
    QTest::newRow("another charset, over SFTP") << true << false << "charset" << all;
    QTest::newRow("leftover of ours, over SFTP") << true << false << "leftover" << QStringList();
    QTest::newRow("folder gone on the server, over SFTP") << true << false << "rmdir" << QStringList{"in/img/p.bin"};
}

void TestRepublish::redrop()
{
    QFETCH(bool, sftp);
    QFETCH(bool, mlsd);
    QFETCH(QString, step);
    QFETCH(QStringList, expectedPut);

    UploadSession s;
    if (sftp) {
        QVERIFY(startSftpServer(s));
        QVERIFY(connectWindow(s));
    } else {
        s.server.setOfferMlsd(mlsd);
        QVERIFY(connectSession(s));
    }
    const QString root = s.serverRoot();
    Stamps before;
    // What got new content since the server was last prepared: its log of puts, or the files' stamps over SFTP.
    const auto prepared = [&] {
        s.server.clearLog();
        before = stampsBelow(root);
    };
    const auto put = [&] { return sftp ? putNamesSince(root, before) : putNames(s.server); };
    chooseEncoding(*s.form, true, "Shift-JIS");
    checkChangedOnly(*s.form, true);
    const QString in = s.localPath("in");
    QVERIFY(writeAll(in + "/a.txt", QStringLiteral("日本語のテキストです。\n").repeated(20).toUtf8()));
    QVERIFY(writeAll(in + "/b.txt", QByteArray("second file\n").repeated(10)));
    QVERIFY(writeAll(in + "/c.html", QByteArray("<p>CR LF</p>\r\n").repeated(10)));
    QByteArray binary(3000, '\0');
    QRandomGenerator random(11);
    for (char& c : binary)
        c = char(random.bounded(256));
    QVERIFY(writeAll(in + "/img/p.bin", binary));
    QVERIFY(QDir().mkpath(in + "/empty"));

    // The first publish: nothing on the server yet, everything goes.
    prepared();
    QString message = publish(s, {in});
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")) && message.endsWith(unchangedText(0)),
             qPrintable(message));
    QCOMPARE(put(), QStringList({"in/a.txt", "in/b.txt", "in/c.html", "in/img/p.bin"}));
    // What arrived was listed for the record over the workers' connections, which need no FEAT once the
    // comparison has asked: one FEAT, the comparison's, where fresh logins for the record would each ask again.
    if (!sftp)
        QCOMPARE(s.server.commands().filter(QRegularExpression("^\\d+ FEAT$")).size(), 1);
    QVERIFY(QFileInfo(root + "/in/empty").isDir());
    QCOMPARE(AppConfig().readBool("app", "changedonly", false), true);
    const QString data = s.form->state().DataDirectory;
    QCOMPARE(QDir(data).entryList({"published-*.json"}, QDir::Files).size(), 1);
    const QByteArray record = readAll(QDir(data).filePath(QDir(data).entryList({"published-*.json"}).value(0)));
    QVERIFY(!record.contains((sftp ? SshdFixture::password() : FtpServerFixture::password()).toUtf8()));

    if (step == "edit") {
        QVERIFY(writeAll(in + "/a.txt", QStringLiteral("月本語のテキストです。\n").repeated(20).toUtf8()));
        QVERIFY(setModified(in + "/a.txt", QDateTime::currentDateTimeUtc().addSecs(5)));
    } else if (step == "touch") {
        QVERIFY(setModified(in + "/b.txt", QDateTime::currentDateTimeUtc().addSecs(100)));
    } else if (step == "server") {
        QVERIFY(writeAll(root + "/in/c.html", "changed behind our back\n"));
    } else if (step == "forget" || step == "damage") {
        for (const QString& name : QDir(data).entryList({"published-*.json"}, QDir::Files)) {
            if (step == "forget")
                QVERIFY(QFile::remove(QDir(data).filePath(name)));
            else
                QVERIFY(writeAll(QDir(data).filePath(name), "{\"format\": \"pelno publish record\", \"files\": [}"));
        }
    } else if (step == "charset") {
        chooseEncoding(*s.form, true, "EUC-JP");
    } else if (step == "leftover") {
        QVERIFY(writeAll(root + "/in/.pelno-left", "half"));
    } else if (step == "rmdir") {
        QVERIFY(QDir(root + "/in/img").removeRecursively());
    }
    s.handOverServerFiles();

    prepared();
    message = publish(s, {in});
    const int unchanged = 4 - int(expectedPut.size());
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")) &&
                 message.endsWith(unchangedText(unchanged)),
             qPrintable(message));
    QCOMPARE(put(), expectedPut);
    QCOMPARE(s.form->unchangedCountLabel()->text(), QString::number(unchanged));
    QVERIFY(s.statusTexts.contains(QStringLiteral("サーバー上のファイルと比較しています")));
    QCOMPARE(temporaryFiles(root), QStringList());
    QCOMPARE(readAll(root + "/in/c.html"), storedAsText(readAll(in + "/c.html")));
    QCOMPARE(readAll(root + "/in/img/p.bin"), binary);

    // Whatever the step did, a third drop finds nothing to send: the record holds what the second one saw.
    prepared();
    message = publish(s, {in});
    QVERIFY2(message.endsWith(unchangedText(4)), qPrintable(message));
    QCOMPARE(put(), QStringList());
}

// A run stopped part-way keeps a record of what arrived: the next drop sends only the rest.
void TestRepublish::stopThenDropAgain()
{
    UploadSession s;
    s.server.setHeldUploadName("f05.bin");
    QVERIFY(connectSession(s));
    checkChangedOnly(*s.form, true);
    const QString folder = s.localPath("k");
    QStringList all;
    for (int i = 0; i < 40; ++i) {
        const QString name = QString("f%1.bin").arg(i, 2, 10, QChar('0'));
        QVERIFY(writeAll(folder + "/" + name, QByteArray(100 + i, char(i))));
        all << "k/" + name;
    }
    QString report;
    answerNext(&report);
    QVERIFY(dropPaths(s.treeViewport(), {folder}));
    QTRY_VERIFY_WITH_TIMEOUT(!s.server.commands().filter(QRegularExpression(" STOR /k/f05.bin$")).isEmpty(), 20000);
    QTest::mouseClick(s.form->findChild<QPushButton*>("StopButton"), Qt::LeftButton);
    s.server.releaseHeldUpload();
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(!report.isEmpty(), "stopped, some files are reported");
    const QStringList arrived = filesBelow(s.server.root());
    QVERIFY(arrived.contains("k/f05.bin"));
    QVERIFY(arrived.size() < all.size());

    s.server.clearLog();
    const QString message = publish(s, {folder});
    QVERIFY2(message.endsWith(unchangedText(int(arrived.size()))), qPrintable(message));
    QStringList rest = all;
    rest.removeIf([&arrived](const QString& name) { return arrived.contains(name); });
    QCOMPARE(putNames(s.server), rest);
    QCOMPARE(filesBelow(s.server.root()), all);
}

// "中止" while the drop is compared with the server ends the run: nothing is put, and the report names every entry.
void TestRepublish::stopWhileComparing()
{
    UploadSession s;
    QVERIFY(connectSession(s));
    checkChangedOnly(*s.form, true);
    QStringList entries;
    for (int i = 0; i < 30; ++i) {
        const QString name = QString("c/d%1/f.txt").arg(i);
        QVERIFY(writeAll(s.localPath(name), "text\n"));
        entries << s.localPath(name);
    }
    auto* stop = s.form->findChild<QPushButton*>("StopButton");
    QVERIFY(stop);
    QTimer watch;
    int clicks = 0;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (s.form->statusText() == QStringLiteral("サーバー上のファイルと比較しています") && clicks++ == 0)
            QTest::mouseClick(stop, Qt::LeftButton);
    });
    watch.start(1);
    const QString report = publish(s, {s.localPath("c")});
    watch.stop();
    QCOMPARE(clicks > 0, true);
    QCOMPARE(putNames(s.server), QStringList());
    QCOMPARE(s.server.commands().filter(QRegularExpression(" MKD ")), QStringList());
    // 30 files, 30 folders and the dropped folder's own entry
    QCOMPARE(report.split('\n', Qt::SkipEmptyParts).size(), 61);
    for (const QString& entry : entries)
        QVERIFY2(report.contains(entry), qPrintable(entry));
}

void TestRepublish::liveFileReplacedWhole_data()
{
    QTest::addColumn<bool>("sftp");
    QTest::addColumn<bool>("refuseRenameOver");
    QTest::addColumn<bool>("abortTemporary");
    QTest::newRow("renamed over the old file") << false << false << false;
    QTest::newRow("server refuses to rename onto a name") << false << true << false;
    QTest::newRow("put of the temporary file fails") << false << false << true;
    // OpenSSH refuses to rename onto an existing name; the reader reads the server's file as a web server would.
    QTest::newRow("over SFTP") << true << true << false;
}

void TestRepublish::liveFileReplacedWhole()
{
    QFETCH(bool, sftp);
    QFETCH(bool, refuseRenameOver);
    QFETCH(bool, abortTemporary);
    UploadSession s;
    if (sftp) {
        QVERIFY(startSftpServer(s));
    } else {
        // Slow enough that the reader fetches the file many times while the new content arrives.
        s.server.setUploadRateLimit(256 * 1024);
        s.server.setRefuseRenameOver(refuseRenameOver);
        if (abortTemporary)
            s.server.setAbortedUploadPrefix(".pelno-");
    }
    const QString root = s.serverRoot();
    const QByteArray oldContent(512 * 1024, 'A');
    const QByteArray newContent(600 * 1024, 'B');
    QVERIFY(writeAll(root + "/live.bin", oldContent));
    QVERIFY(setModified(root + "/live.bin", QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC)));
    s.handOverServerFiles();
    QVERIFY(sftp ? connectWindow(s) : connectSession(s));
    checkChangedOnly(*s.form, true);
    QVERIFY(writeAll(s.localPath("live.bin"), newContent));

    std::atomic<bool> stop = false;
    std::atomic<int> sawOld = 0, sawNew = 0, sawNothing = 0, sawPart = 0;
    const Credentials credentials{s.server.host(), FtpServerFixture::user(), FtpServerFixture::password()};
    QThread* reader = QThread::create([&] {
        // Over SFTP the reader is the server's own folder, as a web server on that host reads it.
        std::optional<FtpSession> session;
        if (!sftp && !session.emplace(credentials).connect())
            return;
        while (!stop) {
            QByteArray got;
            int code = 226;
            if (sftp) {
                QFile file(root + "/live.bin");
                if (file.open(QIODevice::ReadOnly))
                    got = file.readAll();
                else
                    code = 550;
            } else {
                code = ftpListing(session->connection(), "RETR /live.bin",
                                  [&got](const QByteArray& bytes) { got += bytes; });
            }
            if (code != 226)
                ++sawNothing;
            else if (got == oldContent)
                ++sawOld;
            else if (got == newContent)
                ++sawNew;
            else
                ++sawPart;
        }
    });
    reader->start();
    QTRY_VERIFY(sawOld > 0);

    const QString shown = publish(s, {s.localPath("live.bin")});
    if (!abortTemporary)
        QTRY_VERIFY(sawNew > 0);
    stop = true;
    QVERIFY(reader->wait(30000));
    delete reader;

    QCOMPARE(sawPart.load(), 0);
    QVERIFY(sawOld > 3);
    // Only a server that refuses to rename onto a name leaves a moment without the file.
    if (!refuseRenameOver)
        QCOMPARE(sawNothing.load(), 0);
    QCOMPARE(readAll(root + "/live.bin"), abortTemporary ? oldContent : newContent);
    QCOMPARE(temporaryFiles(root), QStringList());
    if (abortTemporary)
        QVERIFY2(shown.contains(s.localPath("live.bin")), qPrintable(shown));
    else
        QVERIFY2(shown.startsWith(QStringLiteral("送信処理が終了しました。(")), qPrintable(shown));
}

int main(int argc, char** argv)
{
    PelnoApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    TestRepublish test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_republish.moc"
