#include "ftp/connectionsettings.h"
#include "ftp/ftpconnection.h"
#include "ftp/ftprunner.h"
#include "ftp/listingparser.h"
#include "ftp/wininet.h"

#include "internethandles.h"
#include "sshdfixture.h"
#include "testfiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A fingerprint of no key the servers here have.
const QString kOtherKey = u"SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"_s;

FtpConnectionSettings sftpSettings(const QString& hostKey, const QString& keyFile = {}, const QString& passphrase = {})
{
    FtpConnectionSettings settings;
    settings.protocol = TransferProtocol::Sftp;
    settings.hostKey = hostKey;
    settings.keyFile = keyFile;
    settings.keyPassphrase = passphrase;
    return settings;
}

bool connectTo(Handles& h, const SshdFixture& server, const FtpConnectionSettings& settings,
               const QString& password = SshdFixture::password())
{
    h.root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!h.root)
        return false;
    setAllTimeouts(h.root, 5000);
    ftpSetConnectionSettings(h.root, settings);
    // no port in the text and none given: the protocol's default would be 22, so the fixture's port is named
    h.connection = InternetConnectA(h.root, server.host().toUtf8().constData(), 0, server.user().toUtf8().constData(),
                                    password.toUtf8().constData(), INTERNET_SERVICE_FTP, 0, 0);
    return h.connection != nullptr;
}

} // namespace

// The connection layer and our client over SFTP, against Debian's OpenSSH server.
class TestSftp : public QObject
{
    Q_OBJECT

private:
    SshdFixture m_server;
    QTemporaryDir m_local;

    QString localFile(const QByteArray& content) { return newSourceFile(m_local.path(), content); }
    FtpConnectionSettings trusted() const { return sftpSettings(m_server.hostKeyFingerprint()); }

private slots:
    void initTestCase()
    {
        if (!SshdFixture::isAvailable())
            QSKIP("needs root and Debian's openssh-server");
        QVERIFY(m_server.start());
        QVERIFY(isHostKeyText(m_server.hostKeyFingerprint()));
    }

    void settingsTravelToTheClient()
    {
        FtpConnectionSettings settings =
            sftpSettings(m_server.hostKeyFingerprint(), u"/keys/my key"_s, u"the passphrase!"_s);
        FtpConnectionSettings read{DataConnectionMode::Active, TlsMode::Off, {}};
        for (const QString& argument : QProcess::splitCommand(clientArguments(settings).join(u' ')))
            QVERIFY2(applyClientArgument(argument, read), qPrintable(argument));
        read.keyPassphrase = settings.keyPassphrase; // never an argument
        QCOMPARE(read, settings);
        QVERIFY(!clientArguments(settings).join(u' ').contains(u"passphrase!"_s)); // "!" is in no fingerprint
        QVERIFY(!applyClientArgument(u"-hostkey:SHA256:short"_s, read));
        QVERIFY(!applyClientArgument(u"-protocol:scp"_s, read));
        QCOMPARE(defaultPort(TransferProtocol::Sftp), quint16(22));
    }

    void connectOutcome_data()
    {
        QTest::addColumn<QString>("hostKey"); // "server": the fixture's own
        QTest::addColumn<int>("key");         // -1: password only
        QTest::addColumn<QString>("passphrase");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<int>("problem");
        QTest::addColumn<bool>("loginReached"); // whether the server saw credentials at all
        const QString server = u"server"_s;
        const QString right = SshdFixture::password();
        const int ed = int(SshdFixture::Key::Ed25519);
        const int edPass = int(SshdFixture::Key::Ed25519WithPassphrase);
        const int rsa = int(SshdFixture::Key::Rsa);
        const int none = int(SshLoginProblem::None);
        QTest::newRow("password") << server << -1 << QString() << right << true << none << true;
        QTest::newRow("wrong password") << server << -1 << QString() << u"nope"_s << false << none << true;
        QTest::newRow("ed25519 key") << server << ed << QString() << QString() << true << none << true;
        QTest::newRow("ed25519 key with passphrase")
            << server << edPass << SshdFixture::passphrase() << QString() << true << none << true;
        QTest::newRow("wrong passphrase") << server << edPass << u"wrong"_s << QString() << false << none << true;
        QTest::newRow("RSA key") << server << rsa << QString() << QString() << false << int(SshLoginProblem::RsaUserKey)
                                 << true;
        QTest::newRow("host key not trusted yet") << QString() << -1 << QString() << right << false << none << false;
        QTest::newRow("host key changed") << kOtherKey << -1 << QString() << right << false << none << false;
    }
    void connectOutcome()
    {
        QFETCH(QString, hostKey);
        QFETCH(int, key);
        QFETCH(QString, passphrase);
        QFETCH(QString, password);
        QFETCH(bool, connected);
        QFETCH(int, problem);
        QFETCH(bool, loginReached);
        const QStringList logBefore = m_server.log();
        const QString keyFile = key < 0 ? QString() : m_server.keyFile(SshdFixture::Key(key));
        Handles h;
        const bool wasConnected = connectTo(
            h, m_server,
            sftpSettings(hostKey == u"server"_s ? m_server.hostKeyFingerprint() : hostKey, keyFile, passphrase),
            password);
        QCOMPARE(wasConnected, connected);
        QCOMPARE(ftpLoginDirectory(h.connection), connected ? u"/"_s : QString());
        QCOMPARE(int(ftpSshProblem(h.root)), problem);
        if (problem == int(SshLoginProblem::RsaUserKey))
            QVERIFY2(ftpLastError(h.root).contains(u"ed25519"_s), qPrintable(ftpLastError(h.root)));
        if (!connected)
            QCOMPARE(ftpLastConnectFailure(h.root), FtpConnectFailure::Rejected);
        const SshHostKey shown = ftpHostKeyProblem(h.root);
        if (hostKey == u"server"_s) {
            QVERIFY(shown.isNull());
        } else {
            // the key the server showed, as ssh-keygen prints it, and which one was trusted before
            QCOMPARE(shown.fingerprint, m_server.hostKeyFingerprint());
            QCOMPARE(shown.type, u"ED25519"_s);
            QCOMPARE(shown.bits, 256);
            QCOMPARE(shown.trusted, hostKey);
            QCOMPARE(shown.changed(), !hostKey.isEmpty());
        }
        // Nothing of the user's reaches a server whose key is not trusted. The lines of this connection are told by
        // its port: what the server writes about an earlier row's connection may still come in.
        const QStringList added = m_server.log().mid(logBefore.size());
        static const QRegularExpression connection(u"^Connection from 127\\.0\\.0\\.1 port (\\d+) "_s);
        QString port;
        for (const QString& line : added) {
            if (const QRegularExpressionMatch match = connection.match(line); match.hasMatch() && port.isEmpty())
                port = match.captured(1);
        }
        QVERIFY2(!port.isEmpty(), qPrintable(added.join(u'\n')));
        const QStringList ours = added.filter(QRegularExpression(u" port "_s + port + u"\\b"_s));
        const bool sawUser = !ours.filter(u"Accepted "_s).isEmpty() || !ours.filter(u"Failed "_s).isEmpty() ||
                             !ours.filter(m_server.user()).isEmpty();
        QVERIFY2(sawUser == loginReached, qPrintable(ours.join(u'\n')));
    }

    void agentLogsIn()
    {
        // An agent of the test's own, holding the passphrase-protected key: no password, no key file given.
        QTemporaryDir agentDir;
        const QString socket = agentDir.filePath(u"agent.sock"_s);
        QProcess agent;
        agent.start(u"ssh-agent"_s, {u"-D"_s, u"-a"_s, socket});
        QVERIFY(agent.waitForStarted());
        QTRY_VERIFY(QFileInfo::exists(socket));
        QProcess add;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"SSH_AUTH_SOCK"_s, socket);
        add.setProcessEnvironment(environment);
        add.start(u"ssh-add"_s, {m_server.keyFile(SshdFixture::Key::Ed25519)});
        QVERIFY(add.waitForFinished());
        QCOMPARE(add.exitCode(), 0);
        const QByteArray before = qgetenv("SSH_AUTH_SOCK");
        qputenv("SSH_AUTH_SOCK", QFile::encodeName(socket));
        Handles h;
        const bool connected = connectTo(h, m_server, trusted(), QString());
        if (before.isEmpty())
            qunsetenv("SSH_AUTH_SOCK");
        else
            qputenv("SSH_AUTH_SOCK", before);
        agent.kill();
        agent.waitForFinished();
        QVERIFY2(connected, qPrintable(ftpLastError(h.root)));
        QVERIFY(!m_server.log().filter(u"Accepted publickey for "_s + m_server.user()).isEmpty());
    }

    // Servers that refuse the session for a reason of their own, each told apart from a refused login: one that
    // offers only an RSA host key (which this libssh2 cannot verify) is named as such; one whose login passes but
    // that allows no file transfer session has reached a limit.
    void serverRefusesTheSession_data()
    {
        QTest::addColumn<bool>("rsaHostKeyOnly");
        QTest::addColumn<int>("maxSessions");
        QTest::addColumn<FtpConnectFailure>("failure");
        QTest::addColumn<SshLoginProblem>("problem");
        QTest::addColumn<QString>("logged");  // a line of sshd's log the attempt must have left, or empty
        QTest::addColumn<QString>("message"); // part of the layer's error text, or empty
        QTest::newRow("only an RSA host key") << true << -1 << FtpConnectFailure::Rejected
                                              << SshLoginProblem::RsaHostKeyOnly << QString() << u"ed25519 or ECDSA"_s;
        QTest::newRow("no session allowed")
            << false << 0 << FtpConnectFailure::Busy << SshLoginProblem::None << u"Accepted password"_s << QString();
    }
    void serverRefusesTheSession()
    {
        QFETCH(bool, rsaHostKeyOnly);
        QFETCH(int, maxSessions);
        QFETCH(FtpConnectFailure, failure);
        QFETCH(SshLoginProblem, problem);
        QFETCH(QString, logged);
        QFETCH(QString, message);
        SshdFixture server;
        SshdFixture::Options options;
        options.rsaHostKeyOnly = rsaHostKeyOnly;
        options.maxSessions = maxSessions;
        QVERIFY(server.start(options));
        Handles h;
        QVERIFY(!connectTo(h, server, sftpSettings(server.hostKeyFingerprint())));
        QCOMPARE(ftpLastConnectFailure(h.root), failure);
        QCOMPARE(ftpSshProblem(h.root), problem);
        if (!logged.isEmpty())
            QVERIFY(!server.log().filter(logged).isEmpty());
        if (!message.isEmpty())
            QVERIFY2(ftpLastError(h.root).contains(message), qPrintable(ftpLastError(h.root)));
    }

    void connectionLimitIsBusy()
    {
        SshdFixture limited;
        SshdFixture::Options options;
        options.maxStartups = 1;
        QVERIFY(limited.start(options));
        // One connection that has not logged in holds the only place; sshd drops the next one at once. The holder
        // itself is dropped while the fixture's own check of the server still counts: it tries until it is greeted.
        QTcpSocket holder;
        bool greeted = false;
        for (QDeadlineTimer deadline(10000); !greeted && !deadline.hasExpired();) {
            holder.abort();
            holder.connectToHost(u"127.0.0.1"_s, limited.port());
            greeted =
                holder.waitForConnected(1000) && holder.waitForReadyRead(1000) && holder.peek(4) == QByteArray("SSH-");
        }
        QVERIFY(greeted);
        {
            Handles h;
            QVERIFY(!connectTo(h, limited, sftpSettings(limited.hostKeyFingerprint())));
            QCOMPARE(ftpLastConnectFailure(h.root), FtpConnectFailure::Busy);
            QCOMPARE(ftpSshProblem(h.root), SshLoginProblem::None);
        }
        holder.abort();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                Handles h;
                return connectTo(h, limited, sftpSettings(limited.hostKeyFingerprint()));
            }(),
            10000);
    }

    void putLineEnds_data()
    {
        QTest::addColumn<bool>("ascii");
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("ASCII LF") << true << QByteArray("a\nb\n") << QByteArray("a\nb\n");
        QTest::newRow("ASCII CR LF") << true << QByteArray("a\r\nb\r\n") << QByteArray("a\nb\n");
        QTest::newRow("ASCII mixed, no end") << true << QByteArray("a\r\nb\nc") << QByteArray("a\nb\nc");
        QTest::newRow("ASCII lone CR kept") << true << QByteArray("a\rb\n") << QByteArray("a\rb\n");
        QTest::newRow("ASCII empty") << true << QByteArray() << QByteArray();
        const QByteArray before(32767, 'x'); // CR and LF of one line end in different reads of the file
        QTest::newRow("ASCII CR LF across reads") << true << before + "\r\ny\n" << before + "\ny\n";
        QTest::newRow("ASCII large CR LF")
            << true << QByteArray("line\r\n").repeated(400000) << QByteArray("line\n").repeated(400000);
        QTest::newRow("binary CR LF kept") << false << QByteArray("a\r\nb\nc\r") << QByteArray("a\r\nb\nc\r");
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        QTest::newRow("binary every byte") << false << all.repeated(4) << all.repeated(4);
        QByteArray random(3 << 20, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
        QTest::newRow("binary 3 MiB") << false << random << random;
    }
    void putLineEnds()
    {
        QFETCH(bool, ascii);
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, stored);
        Handles h;
        QVERIFY(connectTo(h, m_server, trusted()));
        std::atomic<qint64> counted = 0;
        QVERIFY(ftpSetByteCounter(h.connection, &counted));
        QVERIFY(FtpPutFileA(h.connection, localFile(source).toUtf8(), "/put.txt",
                            ascii ? FTP_TRANSFER_TYPE_ASCII : FTP_TRANSFER_TYPE_BINARY, 0));
        QCOMPARE(ftpLastReplyCode(h.connection), 226);
        QCOMPARE(readAll(m_server.root() + u"/put.txt"_s), stored);
        QCOMPARE(counted.load(), qint64(stored.size()));
    }

    void commands_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("files");   // made before, below the login directory
        QTest::addColumn<QStringList>("folders"); // made before
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("reply");
        QTest::addColumn<bool>("existsAfter");
        const QStringList none;
        QTest::newRow("MKD new") << u"MKD"_s << none << none << QByteArray("/made") << 257 << true;
        QTest::newRow("MKD Japanese, blank, quote")
            << u"MKD"_s << none << none << QByteArray("/新しい \"フォルダ\"") << 257 << true;
        QTest::newRow("MKD existing") << u"MKD"_s << none << QStringList{"there"} << QByteArray("/there") << 550
                                      << true;
        QTest::newRow("MKD below missing") << u"MKD"_s << none << none << QByteArray("/no/sub") << 550 << false;
        QTest::newRow("DELE file") << u"DELE"_s << QStringList{"f.txt"} << none << QByteArray("/f.txt") << 250 << false;
        QTest::newRow("DELE missing") << u"DELE"_s << none << none << QByteArray("/missing.txt") << 550 << false;
        QTest::newRow("DELE a folder") << u"DELE"_s << none << QStringList{"dir"} << QByteArray("/dir") << 550 << true;
        QTest::newRow("RMD empty") << u"RMD"_s << none << QStringList{"empty"} << QByteArray("/empty") << 250 << false;
        QTest::newRow("RMD not empty") << u"RMD"_s << QStringList{"full/f.txt"} << none << QByteArray("/full") << 550
                                       << true;
        QTest::newRow("RMD missing") << u"RMD"_s << none << none << QByteArray("/nothing") << 550 << false;
        QTest::newRow("CWD folder") << u"CWD"_s << none << QStringList{"cd here"} << QByteArray("/cd here") << 250
                                    << true;
        QTest::newRow("CWD file") << u"CWD"_s << QStringList{"plain.txt"} << none << QByteArray("/plain.txt") << 550
                                  << true;
        QTest::newRow("CWD missing") << u"CWD"_s << none << none << QByteArray("/nowhere") << 550 << false;
        QTest::newRow("RNTO without RNFR") << u"RNTO"_s << none << none << QByteArray("/x") << 503 << false;
        QTest::newRow("unknown command") << u"SITE"_s << none << none << QByteArray("CHMOD 777 /x") << 502 << false;
    }
    void commands()
    {
        QFETCH(QString, operation);
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        QFETCH(QByteArray, path);
        QFETCH(int, reply);
        QFETCH(bool, existsAfter);
        for (const QString& file : files)
            QVERIFY(writeAll(m_server.root() + u'/' + file, "x"));
        for (const QString& folder : folders)
            QVERIFY(QDir().mkpath(m_server.root() + u'/' + folder));
        m_server.handOver();
        Handles h;
        QVERIFY(connectTo(h, m_server, trusted()));
        const int code = ftpSendCommand(h.connection, operation.toUtf8() + ' ' + path);
        QVERIFY2(code == reply, qPrintable(QString::number(code) + u' ' + ftpLastError(h.connection)));
        QCOMPARE(QFileInfo::exists(m_server.root() + QString::fromUtf8(path)), existsAfter);
        // a refusal leaves the connection usable
        QCOMPARE(ftpSendCommand(h.connection, "NOOP"), 200);
    }

    void renames_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<bool>("targetExists");
        QTest::addColumn<int>("reply");
        QTest::newRow("new name") << QByteArray("/old name.txt") << QByteArray("/新しい名前.txt") << false << 250;
        QTest::newRow("into a folder") << QByteArray("/old name.txt") << QByteArray("/sub/moved.txt") << false << 250;
        QTest::newRow("onto an existing file, replaced")
            << QByteArray("/old name.txt") << QByteArray("/taken.txt") << true << 250;
        QTest::newRow("missing source") << QByteArray("/nothing.txt") << QByteArray("/x.txt") << false << 550;
        QTest::newRow("missing source, target kept")
            << QByteArray("/nothing.txt") << QByteArray("/taken.txt") << true << 550;
    }
    void renames()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(bool, targetExists);
        QFETCH(int, reply);
        QVERIFY(writeAll(m_server.root() + u"/old name.txt"_s, "moving"));
        QVERIFY(QDir().mkpath(m_server.root() + u"/sub"_s));
        if (targetExists)
            QVERIFY(writeAll(m_server.root() + QString::fromUtf8(to), "taken"));
        m_server.handOver();
        Handles h;
        QVERIFY(connectTo(h, m_server, trusted()));
        QCOMPARE(ftpSendCommand(h.connection, "RNFR " + from), 350);
        QCOMPARE(ftpSendCommand(h.connection, "RNTO " + to), reply);
        const QByteArray expected = reply == 250 ? "moving" : targetExists ? "taken" : "";
        QCOMPARE(readAll(m_server.root() + QString::fromUtf8(to)), expected);
        QFile::remove(m_server.root() + QString::fromUtf8(to));
        QFile::remove(m_server.root() + u"/old name.txt"_s);
    }

    void oneLoginPerHandle()
    {
        const int before = m_server.logins();
        {
            Handles h;
            QVERIFY(connectTo(h, m_server, trusted()));
            const QString text = localFile("t\n");
            QVERIFY(FtpCreateDirectoryA(h.connection, "/one"));
            QVERIFY(FtpPutFileA(h.connection, text.toUtf8(), "/one/1.bin", FTP_TRANSFER_TYPE_BINARY, 0));
            QVERIFY(FtpPutFileA(h.connection, text.toUtf8(), "/one/2.txt", FTP_TRANSFER_TYPE_ASCII, 0));
            QVERIFY(!FtpCreateDirectoryA(h.connection, "/one"));
            QCOMPARE(ftpSendCommand(h.connection, "CWD /one"), 250);
            QVERIFY(FtpDeleteFileA(h.connection, "/one/1.bin"));
            QVERIFY(FtpDeleteFileA(h.connection, "/one/2.txt"));
            QVERIFY(FtpRemoveDirectoryA(h.connection, "/one"));
        }
        QCOMPARE(m_server.logins() - before, 1);
    }

    void clientListsLikeFtp_data()
    {
        QTest::addColumn<bool>("withKey");
        QTest::addColumn<bool>("scheme"); // "open sftp://host:port" to a client started without -protocol:sftp
        QTest::newRow("password") << false << false;
        QTest::newRow("key with passphrase") << true << false;
        QTest::newRow("open sftp://") << false << true;
    }
    void clientListsLikeFtp()
    {
        QFETCH(bool, withKey);
        QFETCH(bool, scheme);
        QVERIFY(QDir().mkpath(m_server.root() + u"/www/img"_s));
        QVERIFY(writeAll(m_server.root() + u"/www/index.html"_s, "<html>"));
        QVERIFY(writeAll(m_server.root() + u"/www/名前 two.txt"_s, "12345"));
        m_server.handOver();
        const FtpConnectionSettings settings =
            withKey ? sftpSettings(m_server.hostKeyFingerprint(),
                                   m_server.keyFile(SshdFixture::Key::Ed25519WithPassphrase), SshdFixture::passphrase())
                    : trusted();
        // As the browser writes it: the protocol comes with the settings, the server line is the profile's.
        const QStringList script{scheme ? u"open sftp://"_s + m_server.host() : u"open "_s + m_server.host(),
                                 m_server.user(),
                                 withKey ? QString() : SshdFixture::password(),
                                 u"cd www"_s,
                                 u"ls -al"_s,
                                 u"cd /nowhere"_s,
                                 u"quit"_s};
        QString output;
        if (scheme) {
            QString errors;
            QVERIFY(RunFtpScript(u"ftp -hostkey:"_s + m_server.hostKeyFingerprint(), script.join(u"\r\n"_s) + u"\r\n"_s,
                                 output, errors));
        } else {
            QVERIFY(runFtpScriptFile(script, output, settings));
        }
        const QStringList lines = splitListingOutput(output);
        QVERIFY2(lines.contains(u"230 Logged in."_s), qPrintable(output));
        QVERIFY2(!lines.filter(u"bytes received in"_s).isEmpty(), qPrintable(output));
        // the server's long names: "." and ".." among them, owners as numbers inside the locked root
        const QStringList raw = lines.filter(QRegularExpression(u"^[-d][-rwxsStT]{9}"_s));
        QVERIFY2(raw.filter(QRegularExpression(u" \\.$"_s)).size() == 1, qPrintable(output));
        QVERIFY(raw.filter(QRegularExpression(u" \\.\\.$"_s)).size() == 1);
        if (m_server.chrooted())
            QVERIFY2(!raw.filter(QRegularExpression(u"^\\S+ +\\d+ +\\d+ "_s)).isEmpty(), qPrintable(output));
        const qsizetype refusedCd = lines.indexOf(u"ftp> cd /nowhere"_s);
        QVERIFY(refusedCd > 0);
        QVERIFY(lines.value(refusedCd + 1).startsWith(u"550 "_s));
        const ListingEntries entries = readListingEntries(lines.mid(0, refusedCd));
        QVERIFY(!entries.refusedCd);
        QVERIFY(entries.error.isEmpty());
        QCOMPARE(entries.directories.size(), 1);
        QCOMPARE(entries.directories[0].Name, u"img"_s);
        QStringList names;
        for (const TrecFileData& file : entries.files)
            names << file.Name + u':' + QString::number(file.Size);
        names.sort();
        QCOMPARE(names, (QStringList{u"index.html:6"_s, u"名前 two.txt:5"_s}));
        QVERIFY(transcriptShowsRefusedCd(lines));
    }
};

QTEST_GUILESS_MAIN(TestSftp)
#include "tst_sftp.moc"
