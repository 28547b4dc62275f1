#include "ftp/ftpsession.h"
#include "ftp/remotelister.h"

#include "ftpserverfixture.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <memory>

namespace {

bool setModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
}

QDateTime utcAt(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

} // namespace

class TestRemoteLister : public QObject
{
    Q_OBJECT

private:
    FtpServerFixture m_server;

    Credentials credentials() const
    {
        return {m_server.host(), FtpServerFixture::user(), FtpServerFixture::password()};
    }

    int commandsMatching(const QString& pattern) const
    {
        return int(m_server.commands().filter(QRegularExpression(pattern)).size());
    }

private slots:
    void init()
    {
        m_server.setOfferMlsd(true);
        QVERIFY(m_server.start());
    }

    // Date texts of LIST lines in the shapes servers print, read as UTC with the precision they carry.
    void listingTimes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("expected"); // invalid: not a date
        QTest::addColumn<qint64>("precision");
        const QDateTime summer = utcAt(2024, 8, 1, 12, 0);
        QTest::newRow("recent, this year") << "Jul 25 15:01" << summer << utcAt(2024, 7, 25, 15, 1) << qint64(60);
        QTest::newRow("recent, last year")
            << "Dec 31 23:59" << utcAt(2024, 1, 5, 0, 0) << utcAt(2023, 12, 31, 23, 59) << qint64(60);
        QTest::newRow("tomorrow by the server's clock")
            << "Aug 2 08:00" << summer << utcAt(2024, 8, 2, 8, 0) << qint64(60);
        QTest::newRow("leap day without year")
            << "Feb 29 10:00" << utcAt(2025, 3, 1, 0, 0) << utcAt(2024, 2, 29, 10, 0) << qint64(60);
        QTest::newRow("year shown") << "May 10 1996" << summer << utcAt(1996, 5, 10, 0, 0) << qint64(86400);
        QTest::newRow("iso date and minutes") << "2012-02-07 00:31" << summer << utcAt(2012, 2, 7, 0, 31) << qint64(60);
        QTest::newRow("iso date only") << "2012-02-07" << summer << utcAt(2012, 2, 7, 0, 0) << qint64(86400);
        QTest::newRow("iso with seconds and zone")
            << "2020-07-21 23:45:56.477817180 -0400" << summer << utcAt(2020, 7, 22, 3, 45, 56) << qint64(1);
        QTest::newRow("month name, bad time") << "Jul 25 25:01" << summer << QDateTime() << qint64(0);
        QTest::newRow("no date") << "yesterday" << summer << QDateTime() << qint64(0);
    }
    void listingTimes()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, expected);
        QFETCH(qint64, precision);
        const std::optional<ListingTime> time = listingTime(text, now);
        QCOMPARE(time.has_value(), expected.isValid());
        if (time) {
            QCOMPARE(time->modified, expected);
            QCOMPARE(time->modified.timeSpec(), Qt::UTC);
            QCOMPARE(time->precisionSeconds, precision);
        }
    }

    // Lines of both listing commands, including those that are no entry.
    void listingLines_data()
    {
        QTest::addColumn<bool>("mlsd");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("name"); // empty: no entry
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QDateTime>("modified");
        const int file = int(RemoteEntry::Kind::File);
        const int dir = int(RemoteEntry::Kind::Directory);
        const int other = int(RemoteEntry::Kind::Other);
        QTest::newRow("mlsd file") << true << "type=file;size=12;modify=20240102030405.123;perm=r; a b.txt"
                                   << "a b.txt" << file << qint64(12) << utcAt(2024, 1, 2, 3, 4, 5);
        QTest::newRow("mlsd dir, facts in capitals") << true << "Type=dir;Modify=20240102030405; sub"
                                                     << "sub" << dir << qint64(-1) << utcAt(2024, 1, 2, 3, 4, 5);
        QTest::newRow("mlsd link") << true << "type=OS.unix=symlink;size=3; ln"
                                   << "ln" << other << qint64(3) << QDateTime();
        QTest::newRow("mlsd cdir") << true << "type=cdir;modify=20240102030405; ." << QString() << 0 << qint64(0)
                                   << QDateTime();
        QTest::newRow("mlsd pdir") << true << "type=pdir; .." << QString() << 0 << qint64(0) << QDateTime();
        QTest::newRow("mlsd without name") << true << "type=file;size=1;" << QString() << 0 << qint64(0) << QDateTime();
        QTest::newRow("list file") << false << "-rw-r--r--   1 owner group   4096 May 10  1996 index.html"
                                   << "index.html" << file << qint64(4096) << utcAt(1996, 5, 10, 0, 0);
        QTest::newRow("list dir") << false << "drwxr-xr-x 2 o g 0 2012-02-07 00:31 img"
                                  << "img" << dir << qint64(0) << utcAt(2012, 2, 7, 0, 31);
        QTest::newRow("list link") << false << "lrwxrwxrwx 1 o g 7 2012-02-07 00:31 cur -> target"
                                   << "cur" << other << qint64(7) << utcAt(2012, 2, 7, 0, 31);
        QTest::newRow("list total") << false << "total 12" << QString() << 0 << qint64(0) << QDateTime();
        QTest::newRow("list dot") << false << "drwxr-xr-x 2 o g 0 2012-02-07 00:31 ." << QString() << 0 << qint64(0)
                                  << QDateTime();
        QTest::newRow("list bad size") << false << "-rw-r--r-- 1 o g big Jan 1 2020 x" << QString() << 0 << qint64(0)
                                       << QDateTime();
    }
    void listingLines()
    {
        QFETCH(bool, mlsd);
        QFETCH(QString, line);
        QFETCH(QString, name);
        QFETCH(int, kind);
        QFETCH(qint64, size);
        QFETCH(QDateTime, modified);
        const std::optional<RemoteEntry> entry = mlsd ? mlsdEntry(line) : listEntry(line);
        QCOMPARE(entry.has_value(), !name.isEmpty());
        if (!entry)
            return;
        QCOMPARE(entry->name, name);
        QCOMPARE(int(entry->kind), kind);
        QCOMPARE(entry->size, size);
        QCOMPARE(entry->modified, modified);
        QCOMPARE(entry->line, mlsd ? QString() : line);
    }

    // The same directories through the real server, with MLSD, with LIST asked for, and from a server without
    // MLSD: the same entries, times within the precision each command gives, a missing directory not listed.
    void listsDirectories_data()
    {
        QTest::addColumn<bool>("serverOffersMlsd");
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("mlsdUsed");
        QTest::newRow("mlsd server") << true << int(ListingCommand::Best) << true;
        QTest::newRow("mlsd server, list asked") << true << int(ListingCommand::List) << false;
        QTest::newRow("server without mlsd") << false << int(ListingCommand::Best) << false;
    }
    void listsDirectories()
    {
        QFETCH(bool, serverOffersMlsd);
        QFETCH(int, command);
        QFETCH(bool, mlsdUsed);
        m_server.setOfferMlsd(serverOffersMlsd);
        QVERIFY(m_server.start());
        const QDir root(m_server.root());
        QVERIFY(QDir(root.filePath("site")).removeRecursively() || !root.exists("site"));
        const QDateTime recent = QDateTime::currentDateTimeUtc().addSecs(-7200);
        const QDateTime old = utcAt(2020, 3, 4, 5, 6, 7);
        const QMap<QString, QPair<QByteArray, QDateTime>> files{
            {"a.txt", {"hello", recent}},
            {"old.bin", {"abc", old}},
            {".pelno-left", {"x", recent}},
            {"with space.html", {QByteArray(70000, 'w'), recent}},
        };
        for (auto it = files.begin(); it != files.end(); ++it) {
            QVERIFY(writeAll(root.filePath("site/" + it.key()), it.value().first));
            QVERIFY(setModified(root.filePath("site/" + it.key()), it.value().second));
        }
        QVERIFY(root.mkpath("site/sub"));

        RemoteLister lister(credentials(), 10, ListingCommand(command));
        const QList<RemoteDirectoryListing> results = lister.list({"/site/", "/missing/", "/"});
        QCOMPARE(results.size(), 3);
        QCOMPARE(results[0].path, "/site/");
        QCOMPARE(results[1].path, "/missing/");
        QCOMPARE(results[2].path, "/");
        QVERIFY(results[0].listed);
        QVERIFY(!results[1].listed);
        QVERIFY(results[1].entries.isEmpty());
        QVERIFY(results[2].listed);
        QCOMPARE(results[2].entries.size(), 1);
        QCOMPARE(results[2].entries[0].name, "site");
        QCOMPARE(results[2].entries[0].kind, RemoteEntry::Kind::Directory);

        QStringList names;
        for (const RemoteEntry& entry : results[0].entries) {
            names << entry.name;
            QCOMPARE(entry.line.isEmpty(), mlsdUsed);
            if (entry.name == "sub") {
                QCOMPARE(entry.kind, RemoteEntry::Kind::Directory);
                continue;
            }
            QCOMPARE(entry.kind, RemoteEntry::Kind::File);
            QCOMPARE(entry.size, qint64(files[entry.name].first.size()));
            const QDateTime actual = files[entry.name].second;
            const qint64 precision = mlsdUsed ? 1 : (actual == old ? 86400 : 60);
            QCOMPARE(entry.precisionSeconds, precision);
            QVERIFY2(entry.modified <= actual && actual < entry.modified.addSecs(precision),
                     qPrintable(entry.name + ": " + entry.modified.toString(Qt::ISODate)));
        }
        names.sort();
        QCOMPARE(names, QStringList({".pelno-left", "a.txt", "old.bin", "sub", "with space.html"}));
        QCOMPARE(results[0].lines.isEmpty(), mlsdUsed);
        QCOMPARE(commandsMatching(" MLSD") > 0, mlsdUsed);
        QCOMPARE(commandsMatching(" LIST") > 0, !mlsdUsed);
    }

    // Up to the given number of connections, each logged in once and kept for the next call, sessions handed over
    // among them (they log in no more, and FEAT is not asked again once MLSD is known); close() ends each with QUIT.
    void connectionsKept_data()
    {
        QTest::addColumn<int>("paths");
        QTest::addColumn<int>("maxConnections");
        QTest::addColumn<int>("handedOver"); // sessions logged in outside and offered before the first call
        QTest::addColumn<bool>("mlsdKnown");
        QTest::addColumn<int>("logins"); // the lister's own, at most
        QTest::newRow("25 paths, 10 connections") << 25 << 10 << 0 << false << 10;
        QTest::newRow("3 paths, 10 connections") << 3 << 10 << 0 << false << 3;
        QTest::newRow("6 paths, 1 connection") << 6 << 1 << 0 << false << 1;
        QTest::newRow("25 paths, 3 of 10 handed over") << 25 << 10 << 3 << true << 7;
        QTest::newRow("2 paths, 3 handed over, MLSD not known") << 2 << 10 << 3 << false << 0;
        QTest::newRow("6 paths, 2 offered to 1 connection") << 6 << 1 << 2 << true << 0;
    }
    void connectionsKept()
    {
        QFETCH(int, paths);
        QFETCH(int, maxConnections);
        QFETCH(int, handedOver);
        QFETCH(bool, mlsdKnown);
        QFETCH(int, logins);
        QStringList asked;
        for (int i = 0; i < paths; ++i) {
            QVERIFY(QDir(m_server.root()).mkpath(QString("d%1").arg(i)));
            QVERIFY(writeAll(m_server.root() + QString("/d%1/f%1").arg(i), QByteArray(i, 'x')));
            asked << QString("/d%1/").arg(i);
        }
        RemoteLister lister(credentials(), maxConnections);
        if (mlsdKnown)
            lister.setOffersMlsd(true);
        int taken = 0;
        for (int i = 0; i < handedOver; ++i) {
            auto session = std::make_unique<FtpSession>(credentials());
            QVERIFY(session->connect());
            lister.adopt(session);
            taken += session ? 0 : 1;
            QCOMPARE(bool(session), i >= maxConnections); // one left over is the caller's to close
        }
        for (int round = 0; round < 2; ++round) {
            const QList<RemoteDirectoryListing> results = lister.list(asked);
            QCOMPARE(results.size(), paths);
            for (int i = 0; i < paths; ++i) {
                QVERIFY(results[i].listed);
                QCOMPARE(results[i].path, asked[i]);
                QCOMPARE(results[i].entries.size(), 1);
                QCOMPARE(results[i].entries[0].name, QString("f%1").arg(i));
                QCOMPARE(results[i].entries[0].size, qint64(i));
            }
            // A connection that starts after the others have taken every path does not log in in that call (it
            // may in the next one), so the logins over both calls are at most `logins`, never one per call.
            const int opened = lister.connectionsOpened();
            QVERIFY2(opened >= (taken ? 0 : 1) && opened <= logins, qPrintable(QString::number(opened)));
            QCOMPARE(m_server.logins(), opened + handedOver);
        }
        QVERIFY(m_server.mostSimultaneousLogins() <= maxConnections + handedOver - taken);
        QCOMPARE(commandsMatching(" FEAT$") > 0, !mlsdKnown);
        QCOMPARE(commandsMatching(" MLSD "), 2 * paths);
        lister.close();
        const int opened = lister.connectionsOpened();
        QTRY_COMPARE(commandsMatching("^\\d+ QUIT$"), opened + handedOver);
        QTRY_COMPARE(m_server.closedSessions().size(), opened + handedOver);
    }

    // A stop asked before the call lists nothing and logs in nowhere; one asked during the call ends the handing
    // out: with one connection, what was listed is a beginning of the paths and the rest is not listed.
    void stops_data()
    {
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("before the call") << true;
        QTest::newRow("during the call") << false;
    }
    void stops()
    {
        QFETCH(bool, atOnce);
        QStringList asked;
        for (int i = 0; i < 300; ++i)
            asked << "/";
        RemoteLister lister(credentials(), 1);
        const auto stopped = [&] { return atOnce || commandsMatching(" MLSD") > 0; };
        const QList<RemoteDirectoryListing> results = lister.list(asked, stopped);
        QCOMPARE(results.size(), asked.size());
        int listed = 0;
        while (listed < results.size() && results[listed].listed)
            ++listed;
        for (int i = listed; i < results.size(); ++i)
            QVERIFY(!results[i].listed);
        QCOMPARE(lister.connectionsOpened(), atOnce ? 0 : 1);
        if (atOnce)
            QCOMPARE(listed, 0);
        else
            QVERIFY2(listed >= 1 && listed < asked.size(), qPrintable(QString::number(listed)));
    }

    // A server that went away and came back: the kept connection is made anew by the next listing.
    void reconnectsAfterServerRestart()
    {
        QVERIFY(writeAll(m_server.root() + "/again/f", "1"));
        RemoteLister lister(credentials(), 2);
        QVERIFY(lister.list({"/again/"}).first().listed);
        m_server.stop();
        QVERIFY(m_server.start());
        const QList<RemoteDirectoryListing> again = lister.list({"/again/"});
        QVERIFY(again.first().listed);
        QCOMPARE(again.first().entries.size(), 1);
        QCOMPARE(m_server.logins(), 1);
    }
};

QTEST_GUILESS_MAIN(TestRemoteLister)
#include "tst_remotelister.moc"
