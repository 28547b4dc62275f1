#include "ftp/addressrule.h"
#include "ftp/connectionsettings.h"
#include "ftp/ftpconnection.h"
#include "ftp/ftprunner.h"
#include "ftp/wininet.h"

#include "ftpserverfixture.h"
#include "internethandles.h"
#include "testcertificates.h"
#include "testfiles.h"

#include <QDir>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

bool connectWith(Handles& h, const QString& server, const FtpConnectionSettings& settings)
{
    h.root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!h.root)
        return false;
    setAllTimeouts(h.root, 5000);
    ftpSetConnectionSettings(h.root, settings);
    h.connection = InternetConnectA(h.root, server.toUtf8().constData(), INTERNET_DEFAULT_FTP_PORT,
                                    FtpServerFixture::user().toUtf8().constData(),
                                    FtpServerFixture::password().toUtf8().constData(), INTERNET_SERVICE_FTP, 0, 0);
    return h.connection != nullptr;
}

FtpConnectionSettings settingsOf(DataConnectionMode data, TlsMode tls, const QString& pin = {})
{
    FtpConnectionSettings settings;
    settings.dataConnection = data;
    settings.tls = tls;
    settings.pinnedKey = pin;
    return settings;
}

} // namespace

// Data connections and TLS against real servers: one with a certificate of a test authority that the test
// trusts, one with a self-signed certificate, one without TLS, and one that refuses active data connections.
class TestFtpSecurity : public QObject
{
    Q_OBJECT

private:
    TestCertificates m_certificates;
    TestCertificates::Pair m_selfPair;
    FtpServerFixture m_trusted;
    FtpServerFixture m_selfSigned;
    FtpServerFixture m_plain;
    FtpServerFixture m_passiveOnly;
    QTemporaryDir m_local;
    QString m_selfPin;

    FtpServerFixture& server(const QString& kind)
    {
        if (kind == "trusted"_L1)
            return m_trusted;
        if (kind == "self"_L1)
            return m_selfSigned;
        if (kind == "passiveOnly"_L1)
            return m_passiveOnly;
        return m_plain;
    }

    QString localFile(const QByteArray& content) { return newSourceFile(m_local.path(), content); }

private slots:
    void initTestCase()
    {
        QVERIFY2(!m_certificates.authority().isEmpty(), "openssl could not make the test authority");
        // The test authority is trusted the way a user adds an authority of their own; the `ftp` client that the
        // runner starts inherits it.
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_certificates.authority()));
        const TestCertificates::Pair trusted = m_certificates.signedByAuthority(u"127.0.0.1"_s, u"IP:127.0.0.1"_s);
        m_selfPair = m_certificates.selfSigned(u"pelno-self"_s);
        QVERIFY(trusted.isValid() && m_selfPair.isValid());
        m_trusted.setTls(trusted.certificate, trusted.key);
        m_selfSigned.setTls(m_selfPair.certificate, m_selfPair.key);
        m_passiveOnly.setRefuseActive(true);
        QVERIFY(m_trusted.start());
        QVERIFY(m_selfSigned.start());
        QVERIFY(m_plain.start());
        QVERIFY(m_passiveOnly.start());

        // The pin of the self-signed key, as the certificate question offers it.
        Handles h;
        QVERIFY(!connectWith(h, m_selfSigned.host(), settingsOf(DataConnectionMode::Active, TlsMode::Required)));
        const FtpCertificate certificate = ftpCertificateProblem(h.root);
        QCOMPARE(certificate.problem, FtpCertificate::Problem::SelfSigned);
        QCOMPARE(certificate.sha256Fingerprint, TestCertificates::fingerprint(m_selfPair.certificate));
        QVERIFY(certificate.subject.contains(u"CN=pelno-self"_s));
        QCOMPARE(certificate.issuer, certificate.subject);
        QVERIFY(certificate.notBefore <= QDateTime::currentDateTimeUtc());
        QVERIFY(certificate.notAfter > QDateTime::currentDateTimeUtc().addDays(1));
        QVERIFY(isPinnedKeyText(certificate.publicKeyPin));
        m_selfPin = certificate.publicKeyPin;
    }

    void addressRule_data()
    {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<bool>("passive");
        QTest::newRow("public to public") << u"203.0.113.7"_s << u"198.51.100.20"_s << false << false;
        QTest::newRow("home router to public") << u"192.168.1.10"_s << u"198.51.100.20"_s << false << true;
        QTest::newRow("office 10/8 to public") << u"10.1.2.3"_s << u"198.51.100.20"_s << false << true;
        QTest::newRow("172.16/12 to public") << u"172.20.0.5"_s << u"198.51.100.20"_s << false << true;
        QTest::newRow("172.32 is public") << u"172.32.0.5"_s << u"198.51.100.20"_s << false << false;
        QTest::newRow("carrier NAT to public") << u"100.64.3.4"_s << u"198.51.100.20"_s << false << true;
        QTest::newRow("link-local to public") << u"169.254.9.9"_s << u"198.51.100.20"_s << false << true;
        QTest::newRow("LAN to LAN") << u"192.168.1.10"_s << u"192.168.1.20"_s << false << false;
        QTest::newRow("private to other private") << u"10.0.0.5"_s << u"192.168.1.20"_s << false << false;
        QTest::newRow("loopback") << u"127.0.0.1"_s << u"127.0.0.1"_s << false << false;
        QTest::newRow("v6 unique-local to global") << u"fd12:3456::1"_s << u"2a00:1450:4001::5"_s << false << true;
        QTest::newRow("v6 global to global") << u"2a02:8070::1"_s << u"2a00:1450:4001::5"_s << false << false;
        QTest::newRow("v6 link-local to global") << u"fe80::1"_s << u"2a00:1450:4001::5"_s << false << true;
        QTest::newRow("mapped v4 private to public") << u"::ffff:192.168.0.2"_s << u"198.51.100.20"_s << false << true;
        QTest::newRow("TLS public to public") << u"203.0.113.7"_s << u"198.51.100.20"_s << true << true;
        QTest::newRow("TLS LAN to LAN") << u"192.168.1.10"_s << u"192.168.1.20"_s << true << false;
        QTest::newRow("TLS loopback") << u"127.0.0.1"_s << u"127.0.0.1"_s << true << false;
        QTest::newRow("TLS private to other private") << u"10.0.0.5"_s << u"192.168.1.20"_s << true << true;
        QTest::newRow("TLS v6 ULA to ULA") << u"fd00::2"_s << u"fd00::3"_s << true << false;
    }
    void addressRule()
    {
        QFETCH(QString, local);
        QFETCH(QString, server);
        QFETCH(bool, tls);
        QFETCH(bool, passive);
        QCOMPARE(passiveModeNeeded(QHostAddress(local), QHostAddress(server), tls), passive);
    }

    void securityAgainstServers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("host"); // empty: the server's own "127.0.0.1:<port>"
        QTest::addColumn<int>("tls");
        QTest::addColumn<QString>("pin"); // "self": the self-signed server's key
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<int>("problem");
        QTest::addColumn<bool>("refused");
        using P = FtpCertificate::Problem;
        const int offered = int(TlsMode::WhenOffered);
        const int required = int(TlsMode::Required);
        const int off = int(TlsMode::Off);
        QTest::newRow("trusted, offered")
            << u"trusted"_s << QString() << offered << QString() << true << true << int(P::None) << false;
        QTest::newRow("trusted, required")
            << u"trusted"_s << QString() << required << QString() << true << true << int(P::None) << false;
        QTest::newRow("trusted, no TLS") << u"trusted"_s << QString() << off << QString() << true << false
                                         << int(P::None) << false;
        QTest::newRow("trusted, other name") << u"trusted"_s << u"localhost"_s << offered << QString() << false << false
                                             << int(P::NameMismatch) << false;
        QTest::newRow("trusted, another key pinned")
            << u"trusted"_s << QString() << offered << u"self"_s << false << false << int(P::KeyChanged) << false;
        QTest::newRow("plain, offered: falls back")
            << u"plain"_s << QString() << offered << QString() << true << false << int(P::None) << false;
        QTest::newRow("plain, required: refused")
            << u"plain"_s << QString() << required << QString() << false << false << int(P::None) << true;
        QTest::newRow("plain, pinned: never clear text")
            << u"plain"_s << QString() << offered << u"self"_s << false << false << int(P::None) << true;
        QTest::newRow("self-signed, offered")
            << u"self"_s << QString() << offered << QString() << false << false << int(P::SelfSigned) << false;
        QTest::newRow("self-signed, pinned")
            << u"self"_s << QString() << offered << u"self"_s << true << true << int(P::None) << false;
    }
    void securityAgainstServers()
    {
        QFETCH(QString, kind);
        QFETCH(QString, host);
        QFETCH(int, tls);
        QFETCH(QString, pin);
        QFETCH(bool, connected);
        QFETCH(bool, encrypted);
        QFETCH(int, problem);
        QFETCH(bool, refused);
        FtpServerFixture& target = server(kind);
        target.clearLog();
        Handles h;
        const QString address = host.isEmpty() ? target.host() : host + u":%1"_s.arg(target.port());
        const bool made = connectWith(
            h, address, settingsOf(DataConnectionMode::Automatic, TlsMode(tls), pin == "self"_L1 ? m_selfPin : pin));
        QCOMPARE(made, connected);
        QCOMPARE(ftpIsEncrypted(h.connection), encrypted);
        QCOMPARE(int(ftpCertificateProblem(h.root).problem), problem);
        QCOMPARE(ftpTlsRefused(h.root), refused);
        if (problem == int(FtpCertificate::Problem::KeyChanged))
            QCOMPARE(ftpCertificateProblem(h.root).expectedPin, m_selfPin);
        // A password goes only where the connection was made, and over TLS whenever TLS was used.
        QCOMPARE(target.passwordsOverTls(), connected ? QList<bool>{encrypted} : QList<bool>{});
        QStringList commands;
        for (const QString& line : target.commands())
            commands << line.section(' ', 1);
        QCOMPARE(commands.contains(u"AUTH TLS"_s), tls != int(TlsMode::Off));
        QCOMPARE(commands.contains(u"PROT P"_s), encrypted);
        QCOMPARE(commands.contains(u"PBSZ 0"_s), encrypted);
    }

    void everyOperationOverTls_data()
    {
        QTest::addColumn<int>("data");
        QTest::newRow("passive") << int(DataConnectionMode::Passive);
    }
    void everyOperationOverTls()
    {
        QFETCH(int, data);
        m_trusted.clearLog();
        Handles h;
        QVERIFY(connectWith(h, m_trusted.host(), settingsOf(DataConnectionMode(data), TlsMode::Required)));
        const QByteArray dir = "/tls" + QByteArray::number(data);
        QVERIFY(FtpCreateDirectoryA(h.connection, dir.constData()));
        QStringList transcript;
        ftpSetTranscript(h.connection,
                         [&](FtpTranscriptKind, const QByteArray& l) { transcript << QString::fromUtf8(l); });
        QVERIFY2(
            FtpPutFileA(h.connection, localFile("over tls\n").toUtf8(), dir + "/a.txt", FTP_TRANSFER_TYPE_BINARY, 0),
            qPrintable(ftpLastError(h.connection) + transcript.join('\n')));
        QCOMPARE(readAll(m_trusted.root() + QString::fromUtf8(dir) + u"/a.txt"_s), QByteArray("over tls\n"));
        QByteArray listed;
        QCOMPARE(ftpListing(
                     h.connection, "LIST", [&](const QByteArray& b) { listed += b; }, nullptr, dir),
                 226);
        QVERIFY(listed.contains("a.txt"));
        QVERIFY(FtpDeleteFileA(h.connection, (dir + "/a.txt").constData()));
        QVERIFY(FtpRemoveDirectoryA(h.connection, dir.constData()));
        QVERIFY(!QFileInfo::exists(m_trusted.root() + QString::fromUtf8(dir)));
        QCOMPARE(m_trusted.secureDataConnections(), 2);
        QCOMPARE(m_trusted.logins(), 1);
        QCOMPARE(m_trusted.passwordsOverTls(), QList<bool>{true});
    }

    // Two operations on one connection with active data connections chosen over TLS, through the API and through
    // our ftp client. Where libcurl cannot encrypt an accepted data connection, no data may go out readable: the
    // automatic mode goes passive and the active mode refuses the connect with its reason.
    void activeDataOverTls_data()
    {
        QTest::addColumn<int>("data");
        QTest::addColumn<bool>("client");
        QTest::newRow("active, two uploads") << int(DataConnectionMode::Active) << false;
        QTest::newRow("automatic, two uploads") << int(DataConnectionMode::Automatic) << false;
        QTest::newRow("active, ftp client lists twice") << int(DataConnectionMode::Active) << true;
        QTest::newRow("automatic, ftp client lists twice") << int(DataConnectionMode::Automatic) << true;
    }
    void activeDataOverTls()
    {
        QFETCH(int, data);
        QFETCH(bool, client);
        const bool activeWorks = ftpActiveDataCanBeEncrypted();
        const bool refused = DataConnectionMode(data) == DataConnectionMode::Active && !activeWorks;
        const FtpConnectionSettings settings = settingsOf(DataConnectionMode(data), TlsMode::Required);
        static int counter = 0;
        const QString dir = u"/active%1"_s.arg(++counter);
        QVERIFY(QDir().mkpath(m_trusted.root() + dir));
        m_trusted.clearLog();
        if (client) {
            QVERIFY(writeAll(m_trusted.root() + dir + u"/shown.html"_s, "x"));
            QString output;
            const QStringList script{u"open "_s + m_trusted.host(),
                                     FtpServerFixture::user(),
                                     FtpServerFixture::password(),
                                     u"cd "_s + dir,
                                     u"ls -al"_s,
                                     u"ls -al"_s};
            runFtpScriptFile(script, output, settings);
            QCOMPARE(output.count(u"shown.html"_s), refused ? 0 : 2);
            if (refused)
                QVERIFY2(output.contains(u"cannot encrypt active data connections"_s), qPrintable(output));
        } else {
            Handles h;
            const bool connected = connectWith(h, m_trusted.host(), settings);
            QCOMPARE(connected, !refused);
            QCOMPARE(ftpActiveTlsUnavailable(h.root), refused);
            if (connected) {
                for (const QByteArray& content : {QByteArray("first\n"), QByteArray(100000, 'z')}) {
                    const QString name = dir + u"/%1.bin"_s.arg(content.size());
                    QVERIFY2(FtpPutFileA(h.connection, localFile(content).toUtf8(), name.toUtf8(),
                                         FTP_TRANSFER_TYPE_BINARY, 0),
                             qPrintable(ftpLastError(h.connection)));
                    QCOMPARE(readAll(m_trusted.root() + name), content);
                }
            }
        }
        // Every data connection that moved anything was encrypted, and active ones were used only where they can be.
        const QStringList commands = m_trusted.commands();
        QCOMPARE(m_trusted.secureDataConnections(), refused ? 0 : 2);
        QCOMPARE(m_trusted.uploadWireBytes().size(), refused || client ? 0 : 2);
        QCOMPARE(!commands.filter(u" EPRT"_s).isEmpty(), activeWorks);
        QCOMPARE(!commands.filter(u" EPSV"_s).isEmpty(), !activeWorks && !refused);
        QCOMPARE(m_trusted.passwordsOverTls(), QList<bool>{true});
    }

    void clientListsOverTls()
    {
        QVERIFY(writeAll(m_trusted.root() + u"/www/listed.html"_s, "x"));
        m_trusted.clearLog();
        QString output;
        const QStringList script{u"open "_s + m_trusted.host(), FtpServerFixture::user(), FtpServerFixture::password(),
                                 u"cd /www"_s, u"ls -al"_s};
        QVERIFY(runFtpScriptFile(script, output, settingsOf(DataConnectionMode::Passive, TlsMode::Required)));
        QVERIFY2(output.contains(u"listed.html"_s), qPrintable(output));
        QVERIFY(!output.contains(FtpServerFixture::password()));
        QCOMPARE(m_trusted.passwordsOverTls(), QList<bool>{true});
        QCOMPARE(m_trusted.secureDataConnections(), 1);
        QVERIFY(m_trusted.commands().filter(u" EPRT"_s).isEmpty());

        // the self-signed server is refused without its pin, and listed with it
        QVERIFY(writeAll(m_selfSigned.root() + u"/self.html"_s, "x"));
        const QStringList selfScript{u"open "_s + m_selfSigned.host(), FtpServerFixture::user(),
                                     FtpServerFixture::password(), u"ls -al"_s};
        QVERIFY(runFtpScriptFile(selfScript, output, settingsOf(DataConnectionMode::Passive, TlsMode::WhenOffered)));
        QVERIFY2(!output.contains(u"self.html"_s), qPrintable(output));
        QVERIFY(runFtpScriptFile(selfScript, output,
                                 settingsOf(DataConnectionMode::Passive, TlsMode::WhenOffered, m_selfPin)));
        QVERIFY2(output.contains(u"self.html"_s), qPrintable(output));
    }

    void clientRefusesMistypedOptions_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("tls") << u"-tls:maybe"_s;
        QTest::newRow("data") << u"-data:fast"_s;
        QTest::newRow("pin") << u"-pin:sha256//AAAA"_s;
    }
    void clientRefusesMistypedOptions()
    {
        QFETCH(QString, option);
        QProcess client;
        client.start(QStandardPaths::findExecutable(u"ftp"_s), {option});
        QVERIFY(client.waitForFinished(10000));
        QCOMPARE(client.exitCode(), 2);
        QVERIFY(client.readAllStandardError().contains("Usage"));
    }

    void dataConnectionModes_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("tls");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<bool>("triedActive");
        QTest::addColumn<bool>("usedPassive");
        const int none = int(TlsMode::Off);
        QTest::newRow("refusing server, automatic falls back")
            << u"passiveOnly"_s << int(DataConnectionMode::Automatic) << none << true << true << true;
        QTest::newRow("refusing server, active fails")
            << u"passiveOnly"_s << int(DataConnectionMode::Active) << none << false << true << false;
        QTest::newRow("refusing server, passive from the start")
            << u"passiveOnly"_s << int(DataConnectionMode::Passive) << none << true << false << true;
        QTest::newRow("loopback, automatic stays active")
            << u"plain"_s << int(DataConnectionMode::Automatic) << none << true << true << false;
    }
    void dataConnectionModes()
    {
        QFETCH(QString, kind);
        QFETCH(int, data);
        QFETCH(int, tls);
        QFETCH(bool, sent);
        QFETCH(bool, triedActive);
        QFETCH(bool, usedPassive);
        FtpServerFixture& target = server(kind);
        target.clearLog();
        Handles h;
        QVERIFY(connectWith(h, target.host(), settingsOf(DataConnectionMode(data), TlsMode(tls))));
        static int counter = 0;
        const QByteArray name = "/mode-" + QByteArray::number(++counter) + ".bin";
        QCOMPARE(FtpPutFileA(h.connection, localFile("mode").toUtf8(), name.constData(), FTP_TRANSFER_TYPE_BINARY, 0),
                 sent);
        QCOMPARE(QFileInfo::exists(target.root() + QString::fromUtf8(name)), sent);
        const QStringList commands = target.commands();
        QCOMPARE(!commands.filter(u" EPRT"_s).isEmpty(), triedActive);
        QCOMPARE(!commands.filter(u" EPSV"_s).isEmpty(), usedPassive);
        if (!sent)
            return;
        // once fallen back, the connection stays passive: the next transfer does not try active again
        target.clearLog();
        QByteArray listed;
        QCOMPARE(ftpListing(h.connection, "NLST", [&](const QByteArray& b) { listed += b; }), 226);
        QVERIFY(listed.contains(name.mid(1)));
        QCOMPARE(target.commands().filter(u" EPRT"_s).isEmpty(), usedPassive);
        QCOMPARE(ftpIsPassive(h.connection), usedPassive);
    }
};

QTEST_GUILESS_MAIN(TestFtpSecurity)
#include "tst_ftpsecurity.moc"
