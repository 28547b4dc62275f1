#include "ftp/connectionsettings.h"
#include "ftp/ftpconnection.h"
#include "ftp/wininet.h"

#include "ftpserverfixture.h"
#include "internethandles.h"
#include "natnetwork.h"
#include "testfiles.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Our FTP code behind a real address-translating router: the client in a namespace with a private address, the
// server in another with a public-looking one, a masquerading router between them. The server cannot connect back
// to the client's private address, as on a home or office line to a hosting server.
class TestFtpNat : public QObject
{
    Q_OBJECT

private:
    NatNetwork m_network;
    FtpServerFixture m_server;
    QTemporaryDir m_local;

    struct Outcome
    {
        bool connected = false;
        bool uploaded = false;
        bool passive = false;
        QByteArray listed;
        QString error;
    };

    // Connect, upload and list with the API, from inside the client's namespace.
    Outcome runApi(DataConnectionMode mode, const QString& localFile, const QByteArray& remoteFile)
    {
        Outcome outcome;
        const QByteArray server = m_server.host().toUtf8();
        const bool joined = m_network.runInClient([&] {
            HINTERNET root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
            // bounded: a data connection that cannot be made costs at most these
            setAllTimeouts(root, 4000);
            FtpConnectionSettings settings;
            settings.dataConnection = mode;
            settings.tls = TlsMode::Off;
            ftpSetConnectionSettings(root, settings);
            HINTERNET connection = InternetConnectA(
                root, server.constData(), INTERNET_DEFAULT_FTP_PORT, FtpServerFixture::user().toUtf8().constData(),
                FtpServerFixture::password().toUtf8().constData(), INTERNET_SERVICE_FTP, 0, 0);
            outcome.connected = connection != nullptr;
            if (connection) {
                outcome.uploaded = FtpPutFileA(connection, localFile.toUtf8().constData(), remoteFile.constData(),
                                               FTP_TRANSFER_TYPE_BINARY, 0);
                if (!outcome.uploaded)
                    outcome.error = ftpLastError(connection);
                ftpListing(connection, "NLST", [&](const QByteArray& bytes) { outcome.listed += bytes; });
                outcome.passive = ftpIsPassive(connection);
            } else {
                outcome.error = ftpLastError(root);
            }
            InternetCloseHandle(connection);
            InternetCloseHandle(root);
        });
        if (!joined)
            outcome.error = u"could not join the client's network namespace"_s;
        return outcome;
    }

    // Our ftp client program, started inside the client's namespace, lists the server's root.
    QString runClient(const QString& dataOption)
    {
        const QString script = m_local.filePath(u"script.txt"_s);
        if (!writeAll(script, QStringList{u"open "_s + m_server.host(), FtpServerFixture::user(),
                                          FtpServerFixture::password(), u"ls -al"_s, u"quit"_s}
                                      .join('\n')
                                      .toUtf8() +
                                  '\n'))
            return {};
        QProcess client;
        client.setProcessChannelMode(QProcess::MergedChannels);
        client.start(m_network.execProgram(),
                     m_network.execArguments(m_network.clientNamespace(), QStandardPaths::findExecutable(u"ftp"_s),
                                             {u"-data:"_s + dataOption, u"-tls:none"_s, u"-s:"_s + script}));
        client.closeWriteChannel();
        if (!client.waitForFinished(60000))
            client.kill();
        client.waitForFinished();
        return QString::fromUtf8(client.readAll());
    }

private slots:
    void initTestCase()
    {
        if (!m_network.create())
            QSKIP(qPrintable(u"no network namespaces with NAT here: "_s + m_network.reason()));
        m_server.setNetworkNamespace(m_network.serverNamespace(), NatNetwork::serverAddress());
        QVERIFY(m_server.start());
        QVERIFY(m_local.isValid());
    }

    void cleanupTestCase()
    {
        m_server.stop();
        m_network.remove();
    }

    void behindNat_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("option"); // the ftp client's -data: value
        QTest::addColumn<bool>("works");
        QTest::addColumn<bool>("triesActive");
        QTest::newRow("automatic goes passive") << int(DataConnectionMode::Automatic) << u"auto"_s << true << false;
        QTest::newRow("passive") << int(DataConnectionMode::Passive) << u"passive"_s << true << false;
        QTest::newRow("active fails") << int(DataConnectionMode::Active) << u"active"_s << false << true;
    }
    void behindNat()
    {
        QFETCH(int, mode);
        QFETCH(QString, option);
        QFETCH(bool, works);
        QFETCH(bool, triesActive);
        static int counter = 0;
        const QByteArray name = "nat" + QByteArray::number(++counter) + ".bin";
        const QByteArray content(70000, 'n');
        const QString local = m_local.filePath(QString::fromLatin1(name));
        QVERIFY(writeAll(local, content));
        m_server.clearLog();

        const Outcome api = runApi(DataConnectionMode(mode), local, "/" + name);
        QVERIFY2(api.connected, qPrintable(api.error));
        QVERIFY2(api.uploaded == works, qPrintable(api.error));
        QCOMPARE(readAll(m_server.root() + u"/"_s + QString::fromLatin1(name)), works ? content : QByteArray());
        QCOMPARE(api.listed.contains(name), works);
        QCOMPARE(api.passive, mode != int(DataConnectionMode::Active));

        const QString output = runClient(option);
        QVERIFY2(output.contains(QString::fromLatin1(name)) == works, qPrintable(output));

        // The server saw the router, not the client: the address really was translated.
        QCOMPARE(m_server.peerAddresses(), QStringList(2, NatNetwork::routerOutsideAddress()));
        const QStringList commands = m_server.commands();
        QCOMPARE(!commands.filter(u" EPRT"_s).isEmpty() || !commands.filter(u" PORT"_s).isEmpty(), triesActive);
    }
};

QTEST_GUILESS_MAIN(TestFtpNat)
#include "tst_ftpnat.moc"
