#include "transfer/changeplan.h"
#include "transfer/publishrecord.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kSha(64, 'a');
const QByteArray kOtherSha(64, 'b');
constexpr qint64 kSourceTime = 1700000000000; // ms
constexpr qint64 kRemoteTime = 1700000100;    // s, after the source

QDateTime utcSeconds(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

} // namespace

class TestChangePlan : public QObject
{
    Q_OBJECT

private slots:
    // The rules, each row one case: what is local, what the record says (or no record), what the server shows.
    void decides_data()
    {
        QTest::addColumn<qint64>("localSize");
        QTest::addColumn<qint64>("localTime");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QString>("conversion");
        QTest::addColumn<QByteArray>("sha");
        QTest::addColumn<qint64>("lfSize");
        QTest::addColumn<qint64>("crlfSize");
        QTest::addColumn<bool>("hasRecord");
        QTest::addColumn<qint64>("remoteSize"); // -2: the server has no such file
        QTest::addColumn<qint64>("remoteTime");
        QTest::addColumn<qint64>("remotePrecision");
        QTest::addColumn<bool>("send");
        QTest::addColumn<bool>("recordUpdated");

        // the record: source 100 bytes at kSourceTime, kSha, binary, no conversion; server 100 bytes at kRemoteTime
        const qint64 t = kSourceTime;
        const qint64 r = kRemoteTime;
        QTest::newRow("1: not on the server")
            << 100LL << t << true << "" << kSha << -1LL << -1LL << true << -2LL << r << 1LL << true << false;
        QTest::newRow("record, nothing changed")
            << 100LL << t << true << "" << kSha << -1LL << -1LL << true << 100LL << r << 1LL << false << false;
        QTest::newRow("2: size changed") << 101LL << t << true << "" << kSha << -1LL << -1LL << true << 100LL << r
                                         << 1LL << true << false;
        QTest::newRow("2: same size, new time, other content") << 100LL << t + 5000 << true << "" << kOtherSha << -1LL
                                                               << -1LL << true << 100LL << r << 1LL << true << false;
        QTest::newRow("2: touched, same content")
            << 100LL << t + 5000 << true << "" << kSha << -1LL << -1LL << true << 100LL << r << 1LL << false << true;
        QTest::newRow("3: type changed") << 100LL << t << false << "" << kSha << 100LL << 100LL << true << 100LL << r
                                         << 1LL << true << false;
        QTest::newRow("3: conversion changed")
            << 100LL << t << true << "Shift-JIS" << kSha << -1LL << -1LL << true << 100LL << r << 1LL << true << false;
        QTest::newRow("4: server size changed")
            << 100LL << t << true << "" << kSha << -1LL << -1LL << true << 99LL << r << 1LL << true << false;
        QTest::newRow("4: server time changed")
            << 100LL << t << true << "" << kSha << -1LL << -1LL << true << 100LL << r + 120 << 1LL << true << false;
        QTest::newRow("4: same time seen by LIST to the minute")
            << 100LL << t << true << "" << kSha << -1LL << -1LL << true << 100LL << r - r % 60 << 60LL << false
            << false;
        QTest::newRow("5: binary, same size, newer")
            << 100LL << t << true << "" << kSha << -1LL << -1LL << false << 100LL << r << 1LL << false << true;
        QTest::newRow("5: binary, same size, older") << 100LL << t << true << "" << kSha << -1LL << -1LL << false
                                                     << 100LL << t / 1000 - 10 << 1LL << true << false;
        QTest::newRow("5: older by the second, same day in a year listing")
            << 100LL << t << true << "" << kSha << -1LL << -1LL << false << 100LL << (t / 1000) - (t / 1000) % 86400
            << 86400LL << false << true;
        QTest::newRow("5: binary, other size")
            << 100LL << t << true << "" << kSha << -1LL << -1LL << false << 90LL << r << 1LL << true << false;
        QTest::newRow("5: text, LF form")
            << 100LL << t << false << "" << kSha << 96LL << 104LL << false << 96LL << r << 1LL << false << true;
        QTest::newRow("5: text, CR LF form")
            << 100LL << t << false << "" << kSha << 96LL << 104LL << false << 104LL << r << 60LL << false << true;
        QTest::newRow("5: text, local size only")
            << 100LL << t << false << "" << kSha << 96LL << 104LL << false << 100LL << r << 1LL << true << false;
        QTest::newRow("5: unreadable") << 100LL << t << true << "" << QByteArray() << -1LL << -1LL << false << 100LL
                                       << r << 1LL << true << false;
    }
    void decides()
    {
        QFETCH(qint64, localSize);
        QFETCH(qint64, localTime);
        QFETCH(bool, binary);
        QFETCH(QString, conversion);
        QFETCH(QByteArray, sha);
        QFETCH(qint64, lfSize);
        QFETCH(qint64, crlfSize);
        QFETCH(bool, hasRecord);
        QFETCH(qint64, remoteSize);
        QFETCH(qint64, remoteTime);
        QFETCH(qint64, remotePrecision);
        QFETCH(bool, send);
        QFETCH(bool, recordUpdated);

        LocalFile local;
        local.size = localSize;
        local.modifiedMs = localTime;
        local.binary = binary;
        local.conversion = conversion;
        local.sha256 = [sha] { return sha; };
        local.textSizes = [lfSize, crlfSize] { return std::make_pair(lfSize, crlfSize); };
        const PublishedFile record{100, kSourceTime, kSha, true, QString(), 100, kRemoteTime, 1};
        RemoteEntry remote;
        remote.name = "f";
        remote.kind = RemoteEntry::Kind::File;
        remote.size = remoteSize;
        remote.modified = utcSeconds(remoteTime);
        remote.precisionSeconds = remotePrecision;

        const ChangeDecision decision =
            decideChange(local, hasRecord ? &record : nullptr, remoteSize == -2 ? nullptr : &remote);
        QCOMPARE(decision.send, send);
        QCOMPARE(decision.recordEntry.has_value(), recordUpdated);
        if (decision.recordEntry) {
            QCOMPARE(decision.recordEntry->sourceModifiedMs, localTime);
            QCOMPARE(decision.recordEntry->sha256, kSha);
            QCOMPARE(decision.recordEntry->remoteSize, remoteSize);
        }
    }

    void textSizes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("lf");
        QTest::addColumn<qint64>("crlf");
        QTest::newRow("LF") << QByteArray("a\nb\n") << 4LL << 6LL;
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << 4LL << 6LL;
        QTest::newRow("mixed") << QByteArray("a\r\nb\nc\r") << 6LL << 8LL;
        QTest::newRow("pair across chunks") << QByteArray(256 * 1024 - 1, 'x') + "\r\n"
                                            << 256LL * 1024 << 256LL * 1024 + 1;
    }
    void textSizes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, lf);
        QFETCH(qint64, crlf);
        QTemporaryDir dir;
        QVERIFY(writeAll(dir.filePath("t"), bytes));
        QCOMPARE(textFormSizes(dir.filePath("t")), std::make_pair(lf, crlf));
        QCOMPARE(textFormSizes(dir.filePath("missing")), std::make_pair(-1LL, -1LL));
    }

    // A record survives a write and a read; whatever else is in its place reads as no record.
    void records_data()
    {
        QTest::addColumn<QByteArray>("replacement"); // empty: the written file stays
        QTest::addColumn<QString>("readServer");
        QTest::addColumn<int>("files");
        QTest::newRow("written, read back") << QByteArray() << "127.0.0.1:2121" << 2;
        QTest::newRow("empty file") << QByteArray("-") << "127.0.0.1:2121" << 0;
        QTest::newRow("bad json") << QByteArray("{\"format\": \"pelno publish record\", \"files\": {")
                                  << "127.0.0.1:2121" << 0;
        QTest::newRow("cut short") << QByteArray("cut") << "127.0.0.1:2121" << 0;
        QTest::newRow("not an object") << QByteArray("[1, 2]") << "127.0.0.1:2121" << 0;
        QTest::newRow("another server") << QByteArray() << "192.0.2.1:21" << 0;
    }
    void records()
    {
        QFETCH(QByteArray, replacement);
        QFETCH(QString, readServer);
        QFETCH(int, files);
        QTemporaryDir dir;
        const QString data = dir.filePath("data");
        const QString path = PublishRecord::filePath(data, "127.0.0.1:2121", "user");
        QVERIFY(path.startsWith(data + "/"));
        QCOMPARE(PublishRecord::filePath(data, "127.0.0.1:2121", "other") == path, false);

        PublishRecord record("127.0.0.1:2121", "user");
        record.files().insert("/www/a.html", {12, kSourceTime, kSha, false, "Shift-JIS", 14, kRemoteTime, 60});
        record.files().insert("/www/img/b.png",
                              {3, kSourceTime, kOtherSha, true, QString(), 3, PublishedFile::kUnknownTime, 0});
        QVERIFY(record.write(path));
        QVERIFY(!readAll(path).contains("s3cret"));
        QCOMPARE(QFile(path).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
        if (replacement == "cut")
            QVERIFY(writeAll(path, readAll(path).chopped(4)));
        else if (!replacement.isEmpty())
            QVERIFY(writeAll(path, replacement == "-" ? QByteArray() : replacement));

        const PublishRecord read = PublishRecord::read(path, readServer, "user");
        QCOMPARE(read.files().size(), files);
        if (files == 0)
            return;
        const PublishedFile a = read.files().value("/www/a.html");
        QCOMPARE(a.sourceSize, 12);
        QCOMPARE(a.sourceModifiedMs, kSourceTime);
        QCOMPARE(a.sha256, kSha);
        QCOMPARE(a.binary, false);
        QCOMPARE(a.conversion, "Shift-JIS");
        QCOMPARE(a.remoteSize, 14);
        QCOMPARE(a.remoteModified, kRemoteTime);
        QCOMPARE(a.remotePrecision, 60);
        QCOMPARE(read.files().value("/www/img/b.png").remoteModified, PublishedFile::kUnknownTime);
        QCOMPARE(PublishRecord::read(path, "127.0.0.1:2121", "another user").files().size(), 0);
    }

    // After the shallowest listings, what is left to list: nothing below a directory shown missing. Listed at once
    // with the shallowest: the directories the record shows files published into.
    void directoriesLeft_data()
    {
        QTest::addColumn<QStringList>("rootEntries"); // directories "/www/" shows; "-": not listed
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QStringList>("recorded"); // remote paths in the record
        QTest::addColumn<QStringList>("publishedInto");
        const QStringList all{"/www/site/", "/www/site/img/", "/www/site/img/x/", "/www/other/"};
        QTest::newRow("empty target") << QStringList() << QStringList() << QStringList() << QStringList();
        QTest::newRow("target missing") << QStringList{"-"} << QStringList() << QStringList{"/www/site/img/x/a.png"}
                                        << QStringList({"/www/", "/www/site/", "/www/site/img/", "/www/site/img/x/"});
        QTest::newRow("site there") << QStringList{"site"}
                                    << QStringList({"/www/site/", "/www/site/img/", "/www/site/img/x/"})
                                    << QStringList({"/www/site/a.html", "/elsewhere/b.html", "/www/sitemap/c"})
                                    << QStringList({"/www/", "/www/site/"});
        QTest::newRow("both there") << QStringList{"site", "other"} << all
                                    << QStringList({"/www/other/o.txt", "/www/site/img/i.png", "/www/site/img/j.png"})
                                    << QStringList({"/www/", "/www/site/", "/www/site/img/", "/www/other/"});
        QTest::newRow("a file of the name") << QStringList{"file:site", "other"} << QStringList{"/www/other/"}
                                            << QStringList{"/top.html"} << QStringList();
    }
    void directoriesLeft()
    {
        QFETCH(QStringList, rootEntries);
        QFETCH(QStringList, left);
        QFETCH(QStringList, recorded);
        QFETCH(QStringList, publishedInto);
        RemoteDirectoryListing root{"/www/", !rootEntries.contains("-"), {}, {}};
        for (const QString& name : rootEntries) {
            if (name == "-")
                continue;
            const bool file = name.startsWith("file:");
            root.entries.append({file ? name.mid(5) : name,
                                 file ? RemoteEntry::Kind::File : RemoteEntry::Kind::Directory,
                                 0,
                                 {},
                                 0,
                                 {}});
        }
        const QStringList wanted{"/www/", "/www/site/", "/www/site/img/", "/www/site/img/x/", "/www/other/"};
        QCOMPARE(directoriesLeftToList(wanted, {root}), left);
        QHash<QString, PublishedFile> record;
        for (const QString& path : recorded)
            record.insert(path, PublishedFile{});
        QCOMPARE(directoriesPublishedInto(wanted, record), publishedInto);
    }

    // The comparison over real files and listings: the queue keeps what changed, leftovers of ours are found,
    // existing directories are left out, the files to send that the server has are named for replacement.
    void comparesQueue()
    {
        QTemporaryDir dir;
        const QString site = dir.filePath("site");
        QVERIFY(writeAll(site + "/same.bin", QByteArray(10, '\0')));
        QVERIFY(writeAll(site + "/changed.bin", QByteArray(11, '\0')));
        QVERIFY(writeAll(site + "/new.txt", "new\n"));
        QVERIFY(writeAll(site + "/img/text.txt", "a\nb\n"));
        QVERIFY(QDir(site).mkpath("empty"));
        const QString marker = "<>" + site + "<>" + site;
        ChangeComparisonInput input;
        input.entries =
            QStringList{marker + "/",     marker + "/same.bin",     marker + "/changed.bin", marker + "/new.txt",
                        marker + "/img/", marker + "/img/text.txt", marker + "/empty/"};
        input.target = "/www/";
        input.dataDirectory = dir.path();
        QCOMPARE(directoriesToCompare(input.entries, input.target),
                 QStringList({"/www/", "/www/site/", "/www/site/img/"}));

        const QDateTime later = QDateTime::currentDateTimeUtc().addSecs(60);
        const auto file = [&later](const QString& name, qint64 size) {
            return RemoteEntry{name, RemoteEntry::Kind::File, size, later, 1, QString()};
        };
        input.listings = {
            {"/www/", true, {{"site", RemoteEntry::Kind::Directory, -1, later, 1, QString()}}, {}},
            {"/www/site/",
             true,
             {file("same.bin", 10),
              file("changed.bin", 10),
              file(".pelno-1a2b", 3),
              {"img", RemoteEntry::Kind::Directory, -1, later, 1, QString()}},
             {}},
            {"/www/site/img/", true, {file("text.txt", 6)}, {}},
        };
        const ChangeComparisonResult result = compareWithServer(input);
        QCOMPARE(result.toSend, QStringList({marker + "/changed.bin", marker + "/new.txt", marker + "/empty/"}));
        QCOMPARE(result.unchanged, 2);
        QCOMPARE(result.leftovers, QStringList{"/www/site/.pelno-1a2b"});
        QCOMPARE(result.existing, QSet<QString>{"/www/site/changed.bin"});
        QCOMPARE(result.recordUpdates.keys().size(), 2);
        QCOMPARE(result.recordUpdates.value("/www/site/img/text.txt").binary, false);
        QCOMPARE(result.recordUpdates.value("/www/site/same.bin").sha256, fileSha256(site + "/same.bin"));
        QCOMPARE(result.pending.value(marker + "/changed.bin").sourceSize, 11);
        QVERIFY(filesBelow(dir.path()).filter("m_").isEmpty());

        // Read ahead of the listings, the files give the same result. Their content is read only where the record
        // cannot vouch for it: same.bin is recorded at its size and time, changed.bin at another size.
        const qint64 sameTime = QFileInfo(site + "/same.bin").lastModified().toMSecsSinceEpoch();
        ChangeComparisonInput ahead = input;
        ahead.record.insert("/www/site/same.bin", PublishedFile{10, sameTime, "not read", true, QString()});
        ahead.record.insert("/www/site/changed.bin", PublishedFile{10, sameTime, "not read", true, QString()});
        ahead.localFacts = readLocalFacts(ahead);
        QCOMPARE(ahead.localFacts.size(), 4);
        QVERIFY(ahead.localFacts.value(marker + "/same.bin").sha256.isEmpty());
        QCOMPARE(ahead.localFacts.value(marker + "/changed.bin").sha256, fileSha256(site + "/changed.bin"));
        QCOMPARE(ahead.localFacts.value(marker + "/new.txt").binary, std::optional<bool>(false));
        ahead.record.clear();
        const ChangeComparisonResult fromFacts = compareWithServer(ahead);
        QCOMPARE(fromFacts.toSend, result.toSend);
        QCOMPARE(fromFacts.unchanged, result.unchanged);
        QCOMPARE(fromFacts.recordUpdates.value("/www/site/img/text.txt").sha256, fileSha256(site + "/img/text.txt"));
        QCOMPARE(fromFacts.pending.value(marker + "/changed.bin").sha256, fileSha256(site + "/changed.bin"));
    }
};

QTEST_GUILESS_MAIN(TestChangePlan)
#include "tst_changeplan.moc"
