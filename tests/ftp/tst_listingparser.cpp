#include "ftp/ftprunner.h"
#include "ftp/listingparser.h"
#include "settings/apperror.h"

#include "ftpserverfixture.h"
#include "testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTest>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/stat.h>

// The parser on listings captured at run time from the real test server (through our client) and from the
// system's own "ls -al" over the same folder, plus the rules for lines that neither of them prints.
class TestListingParser : public QObject
{
    Q_OBJECT

private:
    struct Entry
    {
        QString rawName; // as stored on disk, blanks included
        bool directory = false;
    };

    FtpServerFixture m_server;
    QList<Entry> m_entries;
    QDateTime m_oldTime;
    QDateTime m_recentTime;
    QStringList m_serverLines;
    QStringList m_lsLines;
    // The system's ls in other column layouts real servers send: without the group, without the owner, with ISO
    // dates.
    QStringList m_lsNoGroupLines;
    QStringList m_lsNoOwnerLines;
    QStringList m_lsIsoLines;
    QStringList m_lsFullIsoLines;
    QString m_serverOutput;

    static bool setModified(const QString& path, const QDateTime& time)
    {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = time.toSecsSinceEpoch();
        times[0].tv_nsec = times[1].tv_nsec = 0;
        return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
    }

    static qint64 statSize(const QString& path)
    {
        struct stat info;
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
            return -1;
        return info.st_size;
    }

    // Runs our client on a script against the test server and returns its standard output.
    QString runClient(const QStringList& commands, const QString& password = FtpServerFixture::password())
    {
        QStringList lines = {QStringLiteral("open ") + m_server.host(), FtpServerFixture::user(), password};
        lines += commands;
        if (!writeFtpScript(lines))
            return QString();
        QString output;
        QString errors;
        RunFtpScript(ftpCommandLine(), QString(), output, errors);
        removeFtpScript();
        return output;
    }

private slots:
    void initTestCase()
    {
        m_server.setBadCwdReplies();
        QVERIFY(m_server.start({{}, {QStringLiteral("locked")}}));
        const QDir root(m_server.root());
        QVERIFY(root.mkpath(QStringLiteral("list/my docs")));
        QVERIFY(root.mkpath(QStringLiteral("list/empty")));
        const QString list = root.filePath(QStringLiteral("list"));
        QVERIFY(writeAll(list + QStringLiteral("/two  spaces.txt"), "seven!!"));
        QVERIFY(writeAll(list + QStringLiteral("/trailing blank "), "x"));
        QVERIFY(writeAll(list + QStringLiteral("/日本語ファイル.txt"), QStringLiteral("こんにちは").toUtf8()));
        QVERIFY(writeAll(list + QStringLiteral("/.hidden"), "h\n"));
        QVERIFY(writeAll(list + QStringLiteral("/recent.txt"), "recent"));
        QFile big(list + QStringLiteral("/big.bin"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(5LL * 1024 * 1024 * 1024)); // sparse: takes no room
        big.close();
        QVERIFY(QFile::link(QStringLiteral("two  spaces.txt"), list + QStringLiteral("/link")));

        m_entries = {{QStringLiteral("my docs"), true},
                     {QStringLiteral("empty"), true},
                     {QStringLiteral("two  spaces.txt"), false},
                     {QStringLiteral("trailing blank "), false},
                     {QStringLiteral("日本語ファイル.txt"), false},
                     {QStringLiteral(".hidden"), false},
                     {QStringLiteral("big.bin"), false},
                     {QStringLiteral("recent.txt"), false}};

        // A date far back shows its year, a recent one its time of day; day 5 is padded by ls.
        m_oldTime = QDateTime(QDate(2020, 1, 5), QTime(12, 34), QTimeZone::utc());
        m_recentTime = QDateTime::currentDateTimeUtc().addSecs(-3600);
        m_recentTime.setTime(QTime(m_recentTime.time().hour(), m_recentTime.time().minute()));
        for (const Entry& entry : m_entries) {
            const QDateTime time = entry.rawName == QLatin1String("recent.txt") ? m_recentTime : m_oldTime;
            QVERIFY(setModified(list + QLatin1Char('/') + entry.rawName, time));
        }

        m_serverOutput = runClient({QStringLiteral("cd list"), QStringLiteral("ls -al")});
        m_serverLines = splitListingOutput(m_serverOutput);

        const auto runLs = [&list](const QStringList& arguments) {
            QProcess ls;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
            env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
            env.insert(QStringLiteral("QUOTING_STYLE"), QStringLiteral("literal"));
            ls.setProcessEnvironment(env);
            ls.setWorkingDirectory(list);
            ls.start(QStringLiteral("/bin/ls"), arguments);
            ls.waitForFinished(30000);
            return splitListingOutput(QString::fromUtf8(ls.readAllStandardOutput()));
        };
        m_lsLines = runLs({QStringLiteral("-al")});
        m_lsNoGroupLines = runLs({QStringLiteral("-ao")});
        m_lsNoOwnerLines = runLs({QStringLiteral("-ag")});
        m_lsIsoLines = runLs({QStringLiteral("-al"), QStringLiteral("--time-style=long-iso")});
        m_lsFullIsoLines = runLs({QStringLiteral("-al"), QStringLiteral("--time-style=full-iso")});
        for (const QStringList* lines :
             {&m_lsLines, &m_lsNoGroupLines, &m_lsNoOwnerLines, &m_lsIsoLines, &m_lsFullIsoLines})
            QVERIFY(!lines->isEmpty());
    }

    void cleanupTestCase() { m_server.stop(); }

    void parsesRealListings_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("permissions");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("dateText");

        const QString list = m_server.root() + QStringLiteral("/list/");
        const QLocale c = QLocale::c();
        const struct
        {
            const char* source;
            const QStringList& lines;
            QString oldDate;
            QString recentDate;
        } sources[] = {
            {"server", m_serverLines, QStringLiteral("Jan 05 2020"),
             c.toString(m_recentTime, QStringLiteral("MMM dd HH:mm"))},
            {"ls", m_lsLines, QStringLiteral("Jan 5 2020"), c.toString(m_recentTime, QStringLiteral("MMM d HH:mm"))},
            {"ls without group", m_lsNoGroupLines, QStringLiteral("Jan 5 2020"),
             c.toString(m_recentTime, QStringLiteral("MMM d HH:mm"))},
            {"ls without owner", m_lsNoOwnerLines, QStringLiteral("Jan 5 2020"),
             c.toString(m_recentTime, QStringLiteral("MMM d HH:mm"))},
            {"ls ISO dates", m_lsIsoLines, QStringLiteral("2020-01-05 12:34"),
             c.toString(m_recentTime, QStringLiteral("yyyy-MM-dd HH:mm"))},
            {"ls full ISO dates", m_lsFullIsoLines, QStringLiteral("2020-01-05 12:34:00.000000000 +0000"),
             c.toString(m_recentTime, QStringLiteral("yyyy-MM-dd HH:mm:ss.000000000 +0000"))},
        };
        for (const auto& source : sources) {
            for (const Entry& entry : m_entries) {
                // the one entry line that ends with the name (the link line also ends with a name, but with "l")
                QStringList matches;
                for (const QString& line : source.lines) {
                    if ((line.startsWith(QLatin1Char('d')) || line.startsWith(QLatin1Char('-'))) &&
                        line.endsWith(QLatin1Char(' ') + entry.rawName))
                        matches << line;
                }
                // a name listed twice or not at all fails in the test itself, with the whole listing
                const QString date = entry.rawName == QLatin1String("recent.txt") ? source.recentDate : source.oldDate;
                QTest::addRow("%s: %s", source.source, qPrintable(entry.rawName))
                    << (matches.size() == 1 ? matches.first() : QString()) << entry.rawName.trimmed()
                    << QString::fromLatin1(entry.directory ? "drwxr-xr-x" : "-rw-r--r--")
                    << statSize(list + entry.rawName) << date;
            }
        }
    }
    void parsesRealListings()
    {
        QFETCH(QString, line);
        QFETCH(QString, name);
        QFETCH(QString, permissions);
        QFETCH(qint64, size);
        QFETCH(QString, dateText);
        QVERIFY2(!line.isEmpty(), qPrintable(QStringLiteral("not listed exactly once in:\n") + m_serverOutput +
                                             QStringLiteral("\n") + m_lsLines.join(QLatin1Char('\n')) +
                                             QStringLiteral("\n") + m_lsFullIsoLines.join(QLatin1Char('\n'))));
        TrecFileData record;
        ParseListingLine(record, line);
        QCOMPARE(record.Name, name);
        QCOMPARE(record.Size, size);
        QCOMPARE(record.Permissions, permissions);
        QCOMPARE(record.DateText, dateText);
        QCOMPARE(record.Reserved, QString());
    }

    void realListingsShowLinksApart()
    {
        // The link is listed, but as an "l" line, which the callers never hand over.
        for (const QStringList* lines : {&m_serverLines, &m_lsLines}) {
            const QStringList linkLines = lines->filter(QStringLiteral(" link -> "));
            QCOMPARE(linkLines.size(), 1);
            QVERIFY(linkLines.first().startsWith(QLatin1Char('l')));
        }
    }

    void parsesLineRules_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("dateText");

        QTest::newRow("name of two words")
            << QStringLiteral("drwxr-xr-x 2 u g 4096 Jan 1 12:00 my docs") << QStringLiteral("my docs") << qint64(4096)
            << QStringLiteral("Jan 1 12:00");
        QTest::newRow("padded size and day")
            << QStringLiteral("-rw-r--r--    1 user     group          123456 Jan  1 12:00 file.txt")
            << QStringLiteral("file.txt") << qint64(123456) << QStringLiteral("Jan 1 12:00");
        QTest::newRow("trailing blanks and controls")
            << QStringLiteral("-rw-r--r-- 1 u g 1 Jan 1 12:00 name \t \r") << QStringLiteral("name") << qint64(1)
            << QStringLiteral("Jan 1 12:00");
        QTest::newRow("inner runs of spaces kept")
            << QStringLiteral("-rw-r--r-- 1 u g 1 Jan 1 12:00 a  b   c") << QStringLiteral("a  b   c") << qint64(1)
            << QStringLiteral("Jan 1 12:00");
        QTest::newRow("eight tokens") << QStringLiteral("-rw-r--r-- 1 u g 5 Jan 1 name") << QStringLiteral("name")
                                      << qint64(5) << QStringLiteral("Jan 1 ");
        QTest::newRow("seven tokens") << QStringLiteral("-rw-r--r-- 1 u g 5 Jan name") << QStringLiteral("name")
                                      << qint64(5) << QStringLiteral("Jan  ");
        QTest::newRow("six tokens") << QStringLiteral("-rw-r--r-- 1 u g 5 name") << QStringLiteral("name") << qint64(5)
                                    << QStringLiteral("  ");
        QTest::newRow("2 GiB") << QStringLiteral("-rw-r--r-- 1 u g 2147483648 Jan 1 12:00 big") << QStringLiteral("big")
                               << qint64(2147483648LL) << QStringLiteral("Jan 1 12:00");
        QTest::newRow("largest 64-bit size")
            << QStringLiteral("-rw-r--r-- 1 u g 9223372036854775807 Jan 1 12:00 huge") << QStringLiteral("huge")
            << qint64(9223372036854775807LL) << QStringLiteral("Jan 1 12:00");
        QTest::newRow("plus sign") << QStringLiteral("-rw-r--r-- 1 u g +12 Jan 1 12:00 f") << QStringLiteral("f")
                                   << qint64(12) << QStringLiteral("Jan 1 12:00");
        QTest::newRow("minus sign") << QStringLiteral("-rw-r--r-- 1 u g -1 Jan 1 12:00 f") << QStringLiteral("f")
                                    << qint64(-1) << QStringLiteral("Jan 1 12:00");
        QTest::newRow("leading zeros") << QStringLiteral("-rw-r--r-- 1 u g 007 Jan 1 12:00 f") << QStringLiteral("f")
                                       << qint64(7) << QStringLiteral("Jan 1 12:00");

        // Other column layouts, as real servers sent them (lines posted in public issue threads about FTP
        // listings, and the documented NetWare and Mac server formats): the size is the number before the date.
        QTest::newRow("no group column") << QStringLiteral("-rw-r--r-- 1 oinstall 65536 Jul 25 15:01 csxl20170724.dmp")
                                         << QStringLiteral("csxl20170724.dmp") << qint64(65536)
                                         << QStringLiteral("Jul 25 15:01");
        QTest::newRow("no group column, directory")
            << QStringLiteral("drwxr-xr-x 2 oinstall  4096 Jul 25 14:33 log") << QStringLiteral("log") << qint64(4096)
            << QStringLiteral("Jul 25 14:33");
        QTest::newRow("ACL mark") << QStringLiteral("-rwxrw-r--+  1 521      101         2080 May 21 10:53 "
                                                    "CUSG_2000026054.csv.gz")
                                  << QStringLiteral("CUSG_2000026054.csv.gz") << qint64(2080)
                                  << QStringLiteral("May 21 10:53");
        QTest::newRow("ACL mark, no group column")
            << QStringLiteral("-rw-------+   1 9469            0 May  6  2011 .Xauthority")
            << QStringLiteral(".Xauthority") << qint64(0) << QStringLiteral("May 6 2011");
        QTest::newRow("ACL mark, no group column, directory")
            << QStringLiteral("drwxr-x---+  82 9424           89 Mar 17 11:57 private") << QStringLiteral("private")
            << qint64(89) << QStringLiteral("Mar 17 11:57");
        QTest::newRow("group with a space")
            << QStringLiteral("drwxrwxr-x    1 robertja Domain Users        0 Nov 10 17:25 c++")
            << QStringLiteral("c++") << qint64(0) << QStringLiteral("Nov 10 17:25");
        QTest::newRow("group with a space, wide columns")
            << QStringLiteral("drwxrwxrwx      1 testftp    Local Users           84 Oct 16 18:06 zcc")
            << QStringLiteral("zcc") << qint64(84) << QStringLiteral("Oct 16 18:06");
        QTest::newRow("no link count (NetWare)")
            << QStringLiteral("- [R----F--] rhesus             214059       Oct 20 15:27    cx.exe")
            << QStringLiteral("cx.exe") << qint64(214059) << QStringLiteral("Oct 20 15:27");
        QTest::newRow("Mac folder word") << QStringLiteral(
                                                "drwxrwxr-x               folder        2 May 10  1996 network")
                                         << QStringLiteral("network") << qint64(2) << QStringLiteral("May 10 1996");
        QTest::newRow("Mac file with fork sizes")
            << QStringLiteral("-------r--         326  1391972  1392298 Nov 22  1995 MegaPhone.sit")
            << QStringLiteral("MegaPhone.sit") << qint64(1392298) << QStringLiteral("Nov 22 1995");
        QTest::newRow("ISO date") << QStringLiteral("-rw-r--r-- 1 owner group 65536 2012-02-07 00:31 x.dmp")
                                  << QStringLiteral("x.dmp") << qint64(65536) << QStringLiteral("2012-02-07 00:31");
        // An owner and group that read as a date ("may 20 1024") do not move the columns of the standard layout,
        // and a date inside the name stays in the name.
        QTest::newRow("owner and group that look like a date")
            << QStringLiteral("-rw-r--r-- 1 may 20 1024 Jan 1 12:00 Feb 2 2020 notes")
            << QStringLiteral("Feb 2 2020 notes") << qint64(1024) << QStringLiteral("Jan 1 12:00");
        QTest::newRow("date inside the name, no group column")
            << QStringLiteral("-rw-r--r-- 1 u 7 Mar 3 2021 2012-02-07 00:31 old")
            << QStringLiteral("2012-02-07 00:31 old") << qint64(7) << QStringLiteral("Mar 3 2021");
    }
    void parsesLineRules()
    {
        QFETCH(QString, line);
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(QString, dateText);
        TrecFileData record;
        record.DateText = QStringLiteral("earlier");
        ParseListingLine(record, line);
        QCOMPARE(record.Name, name);
        QCOMPARE(record.Size, size);
        QCOMPARE(record.DateText, dateText);
        QCOMPARE(record.Permissions, line.section(QLatin1Char(' '), 0, 0));
        QCOMPARE(ListingEntryName(line), name);
    }

    void sizeTokenThatIsNotANumber_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("permissions");

        QTest::newRow("letters (another layout)") << QStringLiteral("-rw-r--r-- 1 u abc Jan 1 12:00 2020 f")
                                                  << QStringLiteral("Jan") << QStringLiteral("-rw-r--r--");
        QTest::newRow("abc") << QStringLiteral("drwx 1 u g abc Jan 1 12:00 d") << QStringLiteral("abc")
                             << QStringLiteral("drwx");
        QTest::newRow("size ends the line") << QStringLiteral("-rw 1 u g 12") << QString() << QStringLiteral("-rw");
        QTest::newRow("five tokens padded")
            << QStringLiteral("-rw 1 u g   12   ") << QString() << QStringLiteral("-rw");
        QTest::newRow("beyond 64 bits") << QStringLiteral("-rw 1 u g 9223372036854775808 Jan 1 12:00 f")
                                        << QStringLiteral("9223372036854775808") << QStringLiteral("-rw");
        QTest::newRow("unit suffix") << QStringLiteral("-rw 1 u g 12k Jan 1 12:00 f") << QStringLiteral("12k")
                                     << QStringLiteral("-rw");
        QTest::newRow("hexadecimal") << QStringLiteral("-rw 1 u g 0x10 Jan 1 12:00 f") << QStringLiteral("0x10")
                                     << QStringLiteral("-rw");
        QTest::newRow("fraction") << QStringLiteral("-rw 1 u g 1.5 Jan 1 12:00 f") << QStringLiteral("1.5")
                                  << QStringLiteral("-rw");
        QTest::newRow("two signs") << QStringLiteral("-rw 1 u g +-1 Jan 1 12:00 f") << QStringLiteral("+-1")
                                   << QStringLiteral("-rw");
        QTest::newRow("sign alone") << QStringLiteral("-rw 1 u g - Jan 1 12:00 f") << QStringLiteral("-")
                                    << QStringLiteral("-rw");
        QTest::newRow("full-width digits")
            << QStringLiteral("-rw 1 u g １２ Jan 1 12:00 f") << QStringLiteral("１２") << QStringLiteral("-rw");
        QTest::newRow("tab inside") << QStringLiteral("-rw 1 u g 12\t3 Jan 1 12:00 f") << QStringLiteral("12\t3")
                                    << QStringLiteral("-rw");
    }
    void sizeTokenThatIsNotANumber()
    {
        QFETCH(QString, line);
        QFETCH(QString, token);
        QFETCH(QString, permissions);
        TrecFileData record;
        record.Name = QStringLiteral("previous name");
        record.Size = 77;
        record.Permissions = QStringLiteral("previous permissions");
        record.DateText = QStringLiteral("previous date");
        QString message;
        try {
            ParseListingLine(record, line);
        } catch (const AppError& error) {
            message = error.message();
        }
        QCOMPARE(message, QStringLiteral("'%1' は整数ではありません").arg(token));
        QCOMPARE(record.Permissions, permissions);
        QCOMPARE(record.Name, QStringLiteral("previous name"));
        QCOMPARE(record.Size, qint64(77));
        QCOMPARE(record.DateText, QStringLiteral("previous date"));
    }

    void splitsAtEveryKindOfLineBreak_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("CR LF") << QStringLiteral("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("mixed") << QStringLiteral("a\rb\nc\r\nd") << QStringList{"a", "b", "c", "d"};
        QTest::newRow("empty lines kept") << QStringLiteral("a\r\n\r\n\nb") << QStringList{"a", "", "", "b"};
        QTest::newRow("LF CR is two breaks") << QStringLiteral("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("lone break") << QStringLiteral("\r\n") << QStringList{""};
    }
    void splitsAtEveryKindOfLineBreak()
    {
        QFETCH(QString, output);
        QFETCH(QStringList, lines);
        QCOMPARE(splitListingOutput(output), lines);
    }

    void refusedCdOnRealTranscripts_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("refused");
        QTest::newRow("existing folder") << QStringLiteral("list") << FtpServerFixture::password() << false;
        QTest::newRow("folder with a space") << QStringLiteral("list/my docs") << FtpServerFixture::password() << false;
        QTest::newRow("missing folder") << QStringLiteral("nothere") << FtpServerFixture::password() << true;
        QTest::newRow("folder that may not be entered")
            << QStringLiteral("locked") << FtpServerFixture::password() << true;
        QTest::newRow("a file") << QStringLiteral("list/recent.txt") << FtpServerFixture::password() << true;
        QTest::newRow("login refused") << QStringLiteral("list") << QStringLiteral("wrong password") << true;
        for (const FtpServerFixture::BadCwdReply& bad : FtpServerFixture::badCwdReplies())
            QTest::addRow("reply %s", qPrintable(bad.dir)) << bad.dir << FtpServerFixture::password() << true;
    }
    void refusedCdOnRealTranscripts()
    {
        QFETCH(QString, folder);
        QFETCH(QString, password);
        QFETCH(bool, refused);
        const QString output = runClient({QStringLiteral("cd ") + folder, QStringLiteral("ls -al")}, password);
        QVERIFY2(!output.isEmpty(), "the client printed nothing");
        // Nothing the server sent can split a line or cut the transcript short.
        QVERIFY2(!output.contains(QLatin1Char('\r')) && !output.contains(QChar(0)), qPrintable(output));
        const QStringList lines = splitListingOutput(output);
        QVERIFY2(transcriptShowsRefusedCd(lines) == refused, qPrintable(output));
        // The callers take entries from the lines that begin with "d" or "-" only.
        for (const QString& line : lines) {
            if (line.startsWith(QLatin1Char('d')) || line.startsWith(QLatin1Char('-')))
                QVERIFY2(ListingEntryName(line) != QLatin1String("planted"), qPrintable(output));
        }
    }

    void refusedCdInTranscriptShapes_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("refused");
        QTest::newRow("no cd at all") << QStringList{"ftp> ls -al", "550 No such file"} << false;
        QTest::newRow("accepted") << QStringList{"ftp> cd www", "250 OK", "ftp> ls -al", "550 x"} << false;
        QTest::newRow("refused") << QStringList{"ftp> cd www", "550 No such directory."} << true;
        QTest::newRow("temporary failure") << QStringList{"ftp> cd www", "421 Closing."} << true;
        QTest::newRow("not connected") << QStringList{"ftp> cd www", "Not connected."} << true;
        QTest::newRow("multi-line reply") << QStringList{"ftp> cd www", "250-Welcome", "250 OK"} << false;
        QTest::newRow("text before the reply") << QStringList{"ftp> cd www", "notice", "530 Login"} << true;
        QTest::newRow("digits without a code") << QStringList{"ftp> cd www", "5500 bytes", "250 OK"} << false;
        QTest::newRow("second cd refused") << QStringList{"ftp> cd a", "250 OK", "ftp> cd b", "550 No"} << true;
        QTest::newRow("no reply before the next command")
            << QStringList{"ftp> cd www", "ftp> ls -al", "550 failed"} << true;
        QTest::newRow("connection lost: the client's own message")
            << QStringList{"ftp> cd www", "ftp: Connection closed", "ftp> ls -al", "226 Done"} << true;
        QTest::newRow("cd ends the transcript") << QStringList{"ftp> cd www"} << true;
        QTest::newRow("final line of a multi-line reply decides")
            << QStringList{"ftp> cd www", "250-Directory message", "550 No such directory"} << true;
        QTest::newRow("preliminary reply only") << QStringList{"ftp> cd www", "150 Wait"} << true;
        QTest::newRow("a bare code does not end the reply: refused")
            << QStringList{"ftp> cd www", "250", "550 No such directory"} << true;
        QTest::newRow("a bare code does not end the reply: accepted")
            << QStringList{"ftp> cd www", "550", "250 OK"} << false;
    }
    void refusedCdInTranscriptShapes()
    {
        QFETCH(QStringList, lines);
        QFETCH(bool, refused);
        QCOMPARE(transcriptShowsRefusedCd(lines), refused);
    }

    void readsEntriesOfATranscript_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("directories");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("refused");
        const QString dir = QStringLiteral("drwx 1 u g 0 Jan 1 12:00 ");
        const QString file = QStringLiteral("-rw 1 u g 5 Jan 1 12:00 ");
        const QString many = QStringLiteral("'many' は整数ではありません");
        QTest::newRow("each kind in the server's order, without . and ..")
            << QStringList{"ftp> ls -al", file + "b", dir + ".", dir + "z",
                           dir + "..",    file + "a", dir + "y", "lrwx 1 u g 1 Jan 1 12:00 l -> a",
                           "226 Done"}
            << QStringList{"z", "y"} << QStringList{"b", "a"} << QString() << false;
        QTest::newRow("a file that does not convert: every directory, the files before it")
            << QStringList{file + "a", "-rw 1 u g many Jan 1 12:00 bad", dir + "late", file + "c"}
            << QStringList{"late"} << QStringList{"a"} << many << false;
        QTest::newRow("a directory that does not convert: the directories before it, no file")
            << QStringList{dir + "d1", file + "a", "drwx 1 u g many Jan 1 12:00 bad", dir + "d2"} << QStringList{"d1"}
            << QStringList() << many << false;
        QTest::newRow("refused cd: nothing")
            << QStringList{"ftp> cd www", "550 No such directory", "ftp> ls -al", dir + "d", file + "f"}
            << QStringList() << QStringList() << QString() << true;
    }
    void readsEntriesOfATranscript()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, directories);
        QFETCH(QStringList, files);
        QFETCH(QString, error);
        QFETCH(bool, refused);
        const ListingEntries entries = readListingEntries(lines);
        const auto names = [](const QList<TrecFileData>& records) {
            QStringList names;
            for (const TrecFileData& record : records)
                names << record.Name;
            return names;
        };
        QCOMPARE(names(entries.directories), directories);
        QCOMPARE(names(entries.files), files);
        QCOMPARE(entries.error, error);
        QCOMPARE(entries.refusedCd, refused);
        for (const TrecFileData& record : entries.files)
            QCOMPARE(record.Size, qint64(5));
    }
};

QTEST_GUILESS_MAIN(TestListingParser)
#include "tst_listingparser.moc"
