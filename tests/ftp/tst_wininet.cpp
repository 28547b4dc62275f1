#include "ftp/ftpconnection.h"
#include "ftp/wininet.h"

#include "ftpserverfixture.h"
#include "internethandles.h"
#include "testfiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

void setOption(HINTERNET root, DWORD option, DWORD value)
{
    InternetSetOptionA(root, option, &value, sizeof value);
}

// The options an upload worker sets: three seconds for everything, five retries.
void setShortTimeouts(HINTERNET root, DWORD ms = 3000)
{
    setAllTimeouts(root, ms);
    setOption(root, INTERNET_OPTION_CONNECT_BACKOFF, 100);
    setOption(root, INTERNET_OPTION_CONNECT_RETRIES, 5);
}

bool connectTo(Handles& h, const QString& server, const QString& password = FtpServerFixture::password(),
               DWORD flags = 0)
{
    h.root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!h.root)
        return false;
    setShortTimeouts(h.root);
    h.connection = InternetConnectA(h.root, server.toUtf8().constData(), INTERNET_DEFAULT_FTP_PORT,
                                    FtpServerFixture::user().toUtf8().constData(), password.toUtf8().constData(),
                                    INTERNET_SERVICE_FTP, flags, 0);
    return h.connection != nullptr;
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort(); // closed again when probe goes
}

} // namespace

class TestWinInet : public QObject
{
    Q_OBJECT

private:
    FtpServerFixture m_server;
    QTemporaryDir m_local;

    QString localFile(const QByteArray& content) { return newSourceFile(m_local.path(), content); }

private slots:
    void initTestCase()
    {
        FtpServerFixture::Options options;
        options.readOnlyDirs << QStringLiteral("readonly");
        QVERIFY(m_server.start(options));
        QVERIFY(writeAll(m_server.root() + QStringLiteral("/readonly/kept.txt"), "kept"));
    }

    void serverText_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("expectedHost");
        QTest::addColumn<int>("expectedPort");
        QTest::newRow("name") << u"ftp.example.jp"_s << true << u"ftp.example.jp"_s << 21;
        QTest::newRow("name and port") << u"127.0.0.1:2121"_s << true << u"127.0.0.1"_s << 2121;
        QTest::newRow("blanks around") << u" host:21 "_s << true << u"host"_s << 21;
        QTest::newRow("v6 with port") << u"[::1]:2121"_s << true << u"::1"_s << 2121;
        QTest::newRow("v6 without port") << u"[fe80::1]"_s << true << u"fe80::1"_s << 21;
        QTest::newRow("bare v6") << u"::1"_s << true << u"::1"_s << 21;
        QTest::newRow("empty") << u""_s << false << u""_s << 0;
        QTest::newRow("port only") << u":21"_s << false << u""_s << 0;
        QTest::newRow("port zero") << u"host:0"_s << false << u""_s << 0;
        QTest::newRow("port too big") << u"host:65536"_s << false << u""_s << 0;
        QTest::newRow("port not a number") << u"host:ftp"_s << false << u""_s << 0;
        QTest::newRow("empty port") << u"host:"_s << false << u""_s << 0;
        QTest::newRow("unclosed bracket") << u"[::1:21"_s << false << u""_s << 0;
        QTest::newRow("text after bracket") << u"[::1]21"_s << false << u""_s << 0;
        QTest::newRow("not hex in brackets") << u"[::g]"_s << false << u""_s << 0;
        QTest::newRow("blank inside") << u"my host"_s << false << u""_s << 0;
        QTest::newRow("user part") << u"user@host"_s << false << u""_s << 0;
        QTest::newRow("path part") << u"host/www"_s << false << u""_s << 0;
    }
    void serverText()
    {
        QFETCH(QString, server);
        QFETCH(bool, valid);
        QString host;
        quint16 port = 0;
        QCOMPARE(parseFtpServer(server, 21, host, port), valid);
        if (valid) {
            QFETCH(QString, expectedHost);
            QFETCH(int, expectedPort);
            QCOMPARE(host, expectedHost);
            QCOMPARE(int(port), expectedPort);
        }
    }

    void connectOutcome_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("connected");
        QTest::newRow("right password") << FtpServerFixture::password() << true;
        QTest::newRow("wrong password") << QStringLiteral("nope") << false;
        QTest::newRow("empty password") << QString() << false;
    }
    void connectOutcome()
    {
        QFETCH(QString, password);
        QFETCH(bool, connected);
        Handles h;
        QCOMPARE(connectTo(h, m_server.host(), password), connected);
        QCOMPARE(ftpLoginDirectory(h.connection), connected ? QStringLiteral("/") : QString());
    }

    void refusedConnectIsRetried_data()
    {
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("backoff");
        QTest::newRow("no retry") << 0 << 500;
        QTest::newRow("two retries") << 2 << 400;
    }
    void refusedConnectIsRetried()
    {
        QFETCH(int, retries);
        QFETCH(int, backoff);
        HINTERNET root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        setShortTimeouts(root);
        setOption(root, INTERNET_OPTION_CONNECT_RETRIES, DWORD(retries));
        setOption(root, INTERNET_OPTION_CONNECT_BACKOFF, DWORD(backoff));
        const QByteArray server = "127.0.0.1:" + QByteArray::number(closedPort());
        QElapsedTimer clock;
        clock.start();
        HINTERNET connection = InternetConnectA(root, server.constData(), 21, "tester", "x", 1, 0, 0);
        const qint64 elapsed = clock.elapsed();
        QVERIFY(!connection);
        QCOMPARE(ftpLastError(root), QStringLiteral("Connection refused"));
        QVERIFY2(elapsed >= retries * backoff && elapsed < retries * backoff + 2000,
                 qPrintable(QString::number(elapsed)));
        InternetCloseHandle(root);
    }

    void silentServerFailsWithinTheTimeouts()
    {
        QTcpServer silent; // the kernel completes the connect; nobody ever says a word
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        HINTERNET root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        setShortTimeouts(root, 1000);
        const QByteArray server = "127.0.0.1:" + QByteArray::number(silent.serverPort());
        QElapsedTimer clock;
        clock.start();
        HINTERNET connection = InternetConnectA(root, server.constData(), 21, "tester", "x", 1, 0, 0);
        QVERIFY(!connection);
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!ftpLastError(root).isEmpty());
        InternetCloseHandle(root);
    }

    void asciiPutSendsNetworkText_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<qint64>("wireBytes");
        QTest::addColumn<QByteArray>("stored"); // the server turns CR LF back into LF
        QTest::newRow("LF") << QByteArray("a\nb\n") << qint64(6) << QByteArray("a\nb\n");
        QTest::newRow("CR LF not doubled") << QByteArray("a\r\nb\r\n") << qint64(6) << QByteArray("a\nb\n");
        QTest::newRow("mixed, no end") << QByteArray("a\r\nb\nc") << qint64(7) << QByteArray("a\nb\nc");
        QTest::newRow("lone CR kept") << QByteArray("a\rb\n") << qint64(5) << QByteArray("a\rb\n");
        // the CR goes over the wire; this server holds back a final CR as a possible half of CR LF and drops it
        QTest::newRow("CR at the end") << QByteArray("x\r") << qint64(2) << QByteArray("x");
        QTest::newRow("empty") << QByteArray() << qint64(0) << QByteArray();
        const QByteArray before(32767, 'x'); // CR and LF of one line end in different reads of the file
        QTest::newRow("CR LF across reads") << before + "\r\ny\n" << qint64(32767 + 5) << before + "\ny\n";
        QTest::newRow("large") << QByteArray("line\n").repeated(60000) << qint64(360000)
                               << QByteArray("line\n").repeated(60000);
    }
    void asciiPutSendsNetworkText()
    {
        QFETCH(QByteArray, source);
        QFETCH(qint64, wireBytes);
        QFETCH(QByteArray, stored);
        Handles h;
        QVERIFY(connectTo(h, m_server.host()));
        m_server.clearLog();
        std::atomic<qint64> counted = 0;
        QVERIFY(ftpSetByteCounter(h.connection, &counted));
        QVERIFY(FtpPutFileA(h.connection, localFile(source).toUtf8(), "/ascii.txt", FTP_TRANSFER_TYPE_ASCII, 0));
        QCOMPARE(m_server.uploadWireBytes(), QList<qint64>{wireBytes});
        QCOMPARE(counted.load(), wireBytes); // the byte counter sees what went over the wire, to the last byte
        QCOMPARE(readAll(m_server.root() + QStringLiteral("/ascii.txt")), stored);
        QCOMPARE(m_server.commands().filter(u" TYPE A"_s).size(), 1);
    }

    void binaryPutKeepsBytes_data()
    {
        QTest::addColumn<QByteArray>("source");
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        QTest::newRow("every byte value") << all.repeated(4);
        QTest::newRow("CR LF text") << QByteArray("a\r\nb\nc\r");
        QTest::newRow("empty") << QByteArray();
        QByteArray random(1 << 20, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
        QTest::newRow("one MiB") << random;
    }
    void binaryPutKeepsBytes()
    {
        QFETCH(QByteArray, source);
        Handles h;
        QVERIFY(connectTo(h, m_server.host()));
        // Counting goes on across puts: a second put of the same file doubles the count.
        std::atomic<qint64> counted = 0;
        QVERIFY(ftpSetByteCounter(h.connection, &counted));
        for (int i = 0; i < 2; ++i)
            QVERIFY(FtpPutFileA(h.connection, localFile(source).toUtf8(), "/binary.bin", FTP_TRANSFER_TYPE_BINARY, 0));
        QCOMPARE(counted.load(), 2 * qint64(source.size()));
        QCOMPARE(readAll(m_server.root() + QStringLiteral("/binary.bin")), source);
        QVERIFY(m_server.commands().filter(QStringLiteral(" TYPE I")).size() >= 1);
    }

    void remoteNamesAreUsedAsGiven_data()
    {
        QTest::addColumn<QString>("remote");
        QTest::newRow("blanks") << QStringLiteral("/with  two blanks.txt");
        QTest::newRow("Japanese") << QStringLiteral("/日本語のファイル.html");
        QTest::newRow("URL characters") << QStringLiteral("/a#b%41c?d&e+f;g.txt");
        QTest::newRow("below folders") << QStringLiteral("/名前 dir/sub/f.txt");
    }
    void remoteNamesAreUsedAsGiven()
    {
        QFETCH(QString, remote);
        QVERIFY(QDir().mkpath(m_server.root() + QFileInfo(remote).path()));
        Handles h;
        QVERIFY(connectTo(h, m_server.host()));
        const QByteArray content = remote.toUtf8();
        QVERIFY(FtpPutFileA(h.connection, localFile(content).toUtf8(), remote.toUtf8(), FTP_TRANSFER_TYPE_BINARY, 0));
        QCOMPARE(readAll(m_server.root() + remote), content);
    }

    void refusedPutsReturnFalse_data()
    {
        QTest::addColumn<bool>("localExists");
        QTest::addColumn<QByteArray>("remote");
        QTest::newRow("missing local file") << false << QByteArray("/x.txt");
        QTest::newRow("missing remote folder") << true << QByteArray("/no/such/x.txt");
        QTest::newRow("read-only folder") << true << QByteArray("/readonly/x.txt");
        QTest::newRow("folder name") << true << QByteArray("/x/");
        QTest::newRow("line break in name") << true << QByteArray("/x.txt\r\nDELE /readonly/kept.txt");
        QTest::newRow("empty name") << true << QByteArray();
    }
    void refusedPutsReturnFalse()
    {
        QFETCH(bool, localExists);
        QFETCH(QByteArray, remote);
        Handles h;
        QVERIFY(connectTo(h, m_server.host()));
        const QString local = localExists ? localFile("data") : m_local.filePath(QStringLiteral("missing"));
        QVERIFY(!FtpPutFileA(h.connection, local.toUtf8(), remote, FTP_TRANSFER_TYPE_BINARY, 0));
        QVERIFY(!QFile::exists(m_server.root() + QStringLiteral("/readonly/x.txt")));
        QCOMPARE(readAll(m_server.root() + QStringLiteral("/readonly/kept.txt")), QByteArray("kept"));
        // the connection stays usable after the refusal
        QVERIFY(FtpPutFileA(h.connection, localFile("after").toUtf8(), "/after.txt", FTP_TRANSFER_TYPE_BINARY, 0));
    }

    void directoryAndDeleteCommands_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("files");   // created before, relative to the root
        QTest::addColumn<QStringList>("folders"); // created before
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("existsAfter");
        const QStringList none;
        QTest::newRow("MKD new") << u"MKD"_s << none << none << QByteArray("/made") << true << true;
        QTest::newRow("MKD Japanese") << u"MKD"_s << none << none << QByteArray("/新しい フォルダ") << true << true;
        QTest::newRow("MKD existing") << u"MKD"_s << none << QStringList{"there"} << QByteArray("/there") << false
                                      << true;
        QTest::newRow("MKD below missing") << u"MKD"_s << none << none << QByteArray("/no/sub") << false << false;
        QTest::newRow("MKD read-only") << u"MKD"_s << none << none << QByteArray("/readonly/sub") << false << false;
        QTest::newRow("DELE file") << u"DELE"_s << QStringList{"f.txt"} << none << QByteArray("/f.txt") << true
                                   << false;
        QTest::newRow("DELE missing") << u"DELE"_s << none << none << QByteArray("/missing.txt") << false << false;
        QTest::newRow("DELE read-only") << u"DELE"_s << none << none << QByteArray("/readonly/kept.txt") << false
                                        << true;
        QTest::newRow("RMD empty") << u"RMD"_s << none << QStringList{"empty"} << QByteArray("/empty") << true << false;
        QTest::newRow("RMD not empty") << u"RMD"_s << QStringList{"full/f.txt"} << none << QByteArray("/full") << false
                                       << true;
        QTest::newRow("RMD missing") << u"RMD"_s << none << none << QByteArray("/nothing") << false << false;
        // RNFR: the path is "from|to", and what must exist afterwards is "to"
        QTest::newRow("rename") << u"RNFR"_s << QStringList{"r1.txt"} << none << QByteArray("/r1.txt|/r2.txt") << true
                                << true;
        QTest::newRow("rename over a file")
            << u"RNFR"_s << QStringList{"o1.txt", "o2.txt"} << none << QByteArray("/o1.txt|/o2.txt") << true << true;
        QTest::newRow("rename missing") << u"RNFR"_s << none << none << QByteArray("/none.txt|/n2.txt") << false
                                        << false;
        QTest::newRow("rename into read-only")
            << u"RNFR"_s << QStringList{"w.txt"} << none << QByteArray("/w.txt|/readonly/w.txt") << false << false;
        QTest::newRow("rename with line break")
            << u"RNFR"_s << QStringList{"k.txt"} << none << QByteArray("/k.txt|/x\r\nDELE /k.txt") << false << false;
        QTest::newRow("MKD with line break")
            << u"MKD"_s << QStringList{"keep.txt"} << none << QByteArray("/x\r\nDELE /keep.txt") << false << false;
    }
    void directoryAndDeleteCommands()
    {
        QFETCH(QString, operation);
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        QFETCH(QByteArray, path);
        QFETCH(bool, result);
        QFETCH(bool, existsAfter);
        for (const QString& file : files)
            QVERIFY(writeAll(m_server.root() + QLatin1Char('/') + file, "x"));
        for (const QString& folder : folders)
            QVERIFY(QDir().mkpath(m_server.root() + QLatin1Char('/') + folder));
        Handles h;
        QVERIFY(connectTo(h, m_server.host()));
        bool done = false;
        QByteArray source;
        if (operation == QLatin1String("RNFR")) {
            source = path.split('|').first();
            path = path.split('|').last();
            done = FtpRenameFileA(h.connection, source.constData(), path.constData());
            // a refusal is an answer; a name with a line break is never sent
            QCOMPARE(ftpLastReplyCode(h.connection) != 0, !path.contains('\n'));
        } else if (operation == QLatin1String("MKD"))
            done = FtpCreateDirectoryA(h.connection, path.constData());
        else if (operation == QLatin1String("DELE"))
            done = FtpDeleteFileA(h.connection, path.constData());
        else
            done = FtpRemoveDirectoryA(h.connection, path.constData());
        QCOMPARE(done, result);
        QCOMPARE(QFileInfo::exists(m_server.root() + QString::fromUtf8(path)), existsAfter);
        for (const QString& file : files) {
            if (QLatin1Char('/') + file != QString::fromUtf8(path) &&
                !(done && QLatin1Char('/') + file == QString::fromUtf8(source)))
                QVERIFY2(QFile::exists(m_server.root() + QLatin1Char('/') + file), qPrintable(file));
        }
    }

    void oneControlConnectionPerHandle()
    {
        QVERIFY(QDir().mkpath(m_server.root() + QStringLiteral("/one")));
        m_server.start({{QStringLiteral("readonly")}, {}}); // fresh record, sessions counted from 1
        {
            Handles h;
            QVERIFY(connectTo(h, m_server.host()));
            const QString text = localFile("t\n");
            QVERIFY(FtpPutFileA(h.connection, text.toUtf8(), "/one/1.bin", FTP_TRANSFER_TYPE_BINARY, 0));
            QVERIFY(FtpPutFileA(h.connection, text.toUtf8(), "/one/2.bin", FTP_TRANSFER_TYPE_BINARY, 0));
            QVERIFY(FtpPutFileA(h.connection, text.toUtf8(), "/one/3.txt", FTP_TRANSFER_TYPE_ASCII, 0));
            QVERIFY(FtpPutFileA(h.connection, text.toUtf8(), "/one/4.txt", FTP_TRANSFER_TYPE_ASCII, 0));
            QVERIFY(FtpPutFileA(h.connection, text.toUtf8(), "/one/5.bin", FTP_TRANSFER_TYPE_BINARY, 0));
            QVERIFY(FtpCreateDirectoryA(h.connection, "/one/d"));
            QVERIFY(FtpDeleteFileA(h.connection, "/one/1.bin"));
            QVERIFY(FtpRemoveDirectoryA(h.connection, "/one/d"));
            InternetCloseHandle(h.root); // the connection outlives its root handle
            h.root = nullptr;
            QVERIFY(FtpDeleteFileA(h.connection, "/one/2.bin"));
        }
        QCOMPARE(m_server.logins(), 1);
        QStringList sent = m_server.commandsOfSession(1);
        for (QString& command : sent) {
            if (command.startsWith(QLatin1String("EPRT ")) || command.startsWith(QLatin1String("PORT ")))
                command = QStringLiteral("EPRT");
        }
        // only what each operation needs: the data connection, TYPE when it changes, the command itself
        const QStringList expected{"USER tester",
                                   "PASS ****",
                                   "PWD",
                                   "EPRT",
                                   "TYPE I",
                                   "STOR /one/1.bin",
                                   "EPRT",
                                   "STOR /one/2.bin",
                                   "EPRT",
                                   "TYPE A",
                                   "STOR /one/3.txt",
                                   "EPRT",
                                   "STOR /one/4.txt",
                                   "EPRT",
                                   "TYPE I",
                                   "STOR /one/5.bin",
                                   "MKD /one/d",
                                   "DELE /one/1.bin",
                                   "RMD /one/d",
                                   "DELE /one/2.bin",
                                   "QUIT"};
        QCOMPARE(sent, expected);
    }

    void passiveFlagUsesPassiveDataConnections()
    {
        m_server.clearLog();
        Handles h;
        QVERIFY(connectTo(h, m_server.host(), FtpServerFixture::password(), INTERNET_FLAG_PASSIVE));
        QVERIFY(FtpPutFileA(h.connection, localFile("p").toUtf8(), "/passive.bin", FTP_TRANSFER_TYPE_BINARY, 0));
        QCOMPARE(readAll(m_server.root() + QStringLiteral("/passive.bin")), QByteArray("p"));
        QVERIFY(!m_server.commands().filter(QStringLiteral(" EPSV")).isEmpty());
        QVERIFY(m_server.commands().filter(QStringLiteral(" EPRT")).isEmpty());
    }

    void connectionSurvivesServerRestart()
    {
        Handles h;
        QVERIFY(connectTo(h, m_server.host()));
        m_server.stop();
        QVERIFY(!FtpCreateDirectoryA(h.connection, "/while-down"));
        QVERIFY(m_server.start({{QStringLiteral("readonly")}, {}}));
        QVERIFY(FtpPutFileA(h.connection, localFile("back").toUtf8(), "/back.bin", FTP_TRANSFER_TYPE_BINARY, 0));
        QCOMPARE(readAll(m_server.root() + QStringLiteral("/back.bin")), QByteArray("back"));
    }

    void listingOfADirectory_data()
    {
        QTest::addColumn<QByteArray>("directory");
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("listed"); // a name the listing must show, empty when nothing is listed
        QTest::newRow("current directory") << QByteArray() << 226 << u"readonly"_s;
        QTest::newRow("named directory") << QByteArray("/readonly") << 226 << u"kept.txt"_s;
        QTest::newRow("refused directory") << QByteArray("/missing") << 550 << QString();
        QTest::newRow("line break") << QByteArray("/readonly\r\nDELE /readonly/kept.txt") << 0 << QString();
    }
    void listingOfADirectory()
    {
        QFETCH(QByteArray, directory);
        QFETCH(int, reply);
        QFETCH(QString, listed);
        Handles h;
        QVERIFY(connectTo(h, m_server.host()));
        QByteArray data;
        qint64 bytes = -1;
        const int code = ftpListing(
            h.connection, "LIST -al", [&data](const QByteArray& chunk) { data += chunk; }, &bytes, directory);
        QCOMPARE(code, reply);
        QCOMPARE(bytes, qint64(data.size()));
        if (listed.isEmpty())
            QVERIFY(data.isEmpty());
        else
            QVERIFY2(QString::fromUtf8(data).contains(u' ' + listed + u'\n'), data.constData());
        QCOMPARE(readAll(m_server.root() + u"/readonly/kept.txt"_s), QByteArray("kept"));
    }

    void dataTimeoutEndsAStalledUpload()
    {
        FtpServerFixture server;
        server.setStalledUploadName(u"stall.bin"_s);
        QVERIFY(server.start());
        const QString big = localFile(QByteArray(64 << 20, 'z')); // far more than the socket buffers hold
        Handles h;
        QVERIFY(connectTo(h, server.host()));
        setShortTimeouts(h.connection, 1000);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!FtpPutFileA(h.connection, big.toUtf8(), "/stall.bin", FTP_TRANSFER_TYPE_BINARY, 0));
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(ftpLastError(h.connection), u"no data moved for 1000 ms"_s);
        // the handle stays usable
        QVERIFY(FtpPutFileA(h.connection, localFile("ok").toUtf8(), "/ok.bin", FTP_TRANSFER_TYPE_BINARY, 0));
        QCOMPARE(readAll(server.root() + u"/ok.bin"_s), QByteArray("ok"));
        QFile::remove(big);
    }

    void badArguments()
    {
        QVERIFY(!InternetOpenA(nullptr, 3, nullptr, nullptr, 0));
        QVERIFY(!InternetCloseHandle(nullptr));
        HINTERNET root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        QVERIFY(root);
        const DWORD zero = 0;
        const DWORD value = 1000;
        QVERIFY(!InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &zero, sizeof zero));
        QVERIFY(!InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, 2));
        QVERIFY(!InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, nullptr, 4));
        QVERIFY(!InternetSetOptionA(root, 99, &value, sizeof value));
        QVERIFY(InternetSetOptionA(root, INTERNET_OPTION_CONNECT_RETRIES, &zero, sizeof zero));
        QVERIFY(!InternetConnectA(root, "host name", 21, "u", "p", INTERNET_SERVICE_FTP, 0, 0));
        QVERIFY(!InternetConnectA(root, m_server.host().toUtf8(), 21, "u", "p", 3, 0, 0));
        QVERIFY(!FtpPutFileA(root, "/etc/hostname", "/x", FTP_TRANSFER_TYPE_BINARY, 0)); // not a connection
        QVERIFY(!FtpCreateDirectoryA(nullptr, "/x"));
        Handles h;
        QVERIFY(connectTo(h, m_server.host()));
        QVERIFY(!FtpPutFileA(h.connection, localFile("x").toUtf8(), "/x", 0, 0)); // no transfer type
        QVERIFY(!FtpCreateDirectoryA(h.connection, ""));
        QVERIFY(InternetCloseHandle(root));
    }

    void tenParallelActiveUploads()
    {
        // Ten connections move data connections at the same time; each file must arrive whole.
        constexpr int kWorkers = 10;
        constexpr int kFiles = 15;
        QVERIFY(QDir().mkpath(m_server.root() + QStringLiteral("/parallel")));
        QList<QString> sources;
        for (int i = 0; i < kFiles; ++i)
            sources << localFile(QByteArray("row ").repeated(1 + 997 * i) + "\n");
        std::atomic<int> stored{0};
        std::atomic<int> failed{0};
        std::vector<std::unique_ptr<QThread>> threads;
        for (int w = 0; w < kWorkers; ++w) {
            threads.emplace_back(QThread::create([&, w] {
                Handles h;
                if (!connectTo(h, m_server.host())) {
                    failed += kFiles;
                    return;
                }
                for (int i = 0; i < kFiles; ++i) {
                    const QByteArray remote = "/parallel/" + QByteArray::number(w) + "_" + QByteArray::number(i);
                    const DWORD type = i % 2 ? FTP_TRANSFER_TYPE_ASCII : FTP_TRANSFER_TYPE_BINARY;
                    (FtpPutFileA(h.connection, sources[i].toUtf8(), remote, type, 0) ? stored : failed)++;
                }
            }));
            threads.back()->start();
        }
        for (auto& thread : threads)
            QVERIFY2(thread->wait(QDeadlineTimer(120000)), "an upload thread hangs");
        QCOMPARE(failed.load(), 0);
        QCOMPARE(stored.load(), kWorkers * kFiles);
        for (int w = 0; w < kWorkers; ++w) {
            for (int i = 0; i < kFiles; ++i) {
                const QString remote = m_server.root() + QStringLiteral("/parallel/%1_%2").arg(w).arg(i);
                QCOMPARE(readAll(remote), readAll(sources[i]));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestWinInet)
#include "tst_wininet.moc"
