#include "ftp/ftpconnection.h"
#include "ftp/ftpsession.h"

#include "ftpserverfixture.h"
#include "sshdfixture.h"
#include "testfiles.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>

class TestFtpSession : public QObject
{
    Q_OBJECT

private:
    FtpServerFixture m_server;

    Credentials credentials(const QString& server = QString()) const
    {
        return {server.isEmpty() ? m_server.host() : server, FtpServerFixture::user(), FtpServerFixture::password()};
    }

    QStringList quitSessions() const
    {
        QStringList sessions;
        for (const QString& line : m_server.commands().filter(QRegularExpression(QStringLiteral("^\\d+ QUIT"))))
            sessions << line.section(QLatin1Char(' '), 0, 0);
        return sessions;
    }

private slots:
    void init()
    {
        m_server.setMaxConnectionsPerAddress(0);
        m_server.refuseLogins(false);
        QVERIFY(m_server.start()); // a fresh record: sessions count from 1
    }

    // One login for as long as the session is open; close() and the destructor both end it with QUIT, and a closed
    // session logs in anew.
    void loginLastsUntilClosed()
    {
        {
            FtpSession session(credentials());
            QVERIFY(session.connect());
            QVERIFY(session.connect());
            QVERIFY(FtpCreateDirectoryA(session.connection(), "/made"));
            QCOMPARE(m_server.logins(), 1);
            QVERIFY(quitSessions().isEmpty());

            session.close();
            QVERIFY(!session.isConnected());
            QVERIFY(!session.connection());
            QTRY_COMPARE(quitSessions(), QStringList{"1"});
            QVERIFY(session.connect());
            QCOMPARE(m_server.logins(), 2);
        }
        QTRY_COMPARE(quitSessions(), (QStringList{"1", "2"}));
        QVERIFY(QFileInfo(m_server.root() + QStringLiteral("/made")).isDir());
    }

    void failedConnect_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<int>("failure");
        QTest::newRow("login refused") << "refused" << int(FtpConnectFailure::Rejected);
        QTest::newRow("TLS required, not offered") << "tls" << int(FtpConnectFailure::Rejected);
        QTest::newRow("nothing listening") << "closed" << int(FtpConnectFailure::Unreachable);
        QTest::newRow("turned away") << "busy" << int(FtpConnectFailure::Busy);
        QTest::newRow("turned away at the password") << "busy at password" << int(FtpConnectFailure::Busy);
        QTest::newRow("SFTP login refused") << "sftp refused" << int(FtpConnectFailure::Rejected);
        QTest::newRow("SFTP host key not trusted") << "sftp host key" << int(FtpConnectFailure::Rejected);
        QTest::newRow("SFTP, nothing listening") << "sftp closed" << int(FtpConnectFailure::Unreachable);
    }

    // A failed connect says why, keeps the root handle for what the layer tells about it, and a later connect of
    // the same session succeeds once the cause has gone.
    void failedConnect()
    {
        QFETCH(QString, cause);
        QFETCH(int, failure);
        Credentials target = credentials();
        SshdFixture sshd;
        if (cause.startsWith(QLatin1String("sftp"))) {
            if (!SshdFixture::isAvailable())
                QSKIP("needs root and Debian's openssh-server");
            QVERIFY(sshd.start());
            target = {sshd.host(), sshd.user(),
                      cause == QLatin1String("sftp refused") ? QStringLiteral("nope") : SshdFixture::password()};
            target.settings.protocol = TransferProtocol::Sftp;
            if (cause != QLatin1String("sftp host key"))
                target.settings.hostKey = sshd.hostKeyFingerprint();
            if (cause == QLatin1String("sftp closed"))
                sshd.stop();
        }
        if (cause.startsWith(QLatin1String("sftp"))) {
            // the cause is the session's own settings: it holds for the session's life
        } else if (cause == QLatin1String("refused")) {
            m_server.refuseLogins();
        } else if (cause == QLatin1String("tls")) {
            target.settings.tls = TlsMode::Required;
        } else if (cause == QLatin1String("closed")) {
            m_server.stop();
        } else {
            m_server.setMaxConnectionsPerAddress(1, cause == QLatin1String("busy")
                                                        ? FtpServerFixture::LimitReply::AtGreeting
                                                        : FtpServerFixture::LimitReply::AtPassword);
            QVERIFY(m_server.start());
        }
        FtpSession session(target);
        std::unique_ptr<FtpSession> occupant;
        if (cause.startsWith(QLatin1String("busy"))) {
            occupant = std::make_unique<FtpSession>(credentials());
            QVERIFY(occupant->connect());
        }
        QVERIFY(!session.connect());
        QVERIFY(!session.connection());
        QVERIFY(session.root());
        QCOMPARE(int(session.connectFailure()), failure);
        QCOMPARE(ftpTlsRefused(session.root()), cause == QLatin1String("tls"));
        QCOMPARE(ftpHostKeyProblem(session.root()).fingerprint,
                 cause == QLatin1String("sftp host key") ? sshd.hostKeyFingerprint() : QString());
        // A refused password is asked once: trying it again could lock the account.
        if (cause == QLatin1String("refused"))
            QCOMPARE(m_server.commands().filter(QRegularExpression(QStringLiteral("^\\d+ PASS "))).size(), 1);

        if (cause == QLatin1String("refused"))
            m_server.refuseLogins(false);
        else if (cause == QLatin1String("closed"))
            QVERIFY(m_server.start());
        else if (cause.startsWith(QLatin1String("busy")))
            occupant.reset();
        else
            return; // the settings (or an SFTP profile's credentials) hold for the session's life
        QTRY_VERIFY(session.connect());
        QCOMPARE(int(session.connectFailure()), int(FtpConnectFailure::None));
    }

    void limitWording_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("limit");
        QTest::newRow("per host")
            << QByteArray("530 Sorry, the maximum number of clients (4) from your host are already connected.") << true;
        QTest::newRow("per address") << QByteArray("421 Too many connections (8) from this IP") << true;
        QTest::newRow("users") << QByteArray("421 There are too many connected users, please try later.") << true;
        QTest::newRow("several lines") << QByteArray("530-Login limit reached.\n530 Try again later.") << true;
        QTest::newRow("per account") << QByteArray("530 Only 2 sessions per user are allowed") << true;
        QTest::newRow("no more") << QByteArray("550 No more connections allowed from your address") << true;
        QTest::newRow("wrong password") << QByteArray("530 Login incorrect.") << false;
        QTest::newRow("refused") << QByteArray("530 Authentication failed.") << false;
        QTest::newRow("no such user") << QByteArray("530 User tester cannot log in.") << false;
    }

    // The wordings that mean "come back later" are told from those that mean "wrong user or password", which must
    // never be retried.
    void limitWording()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, limit);
        QCOMPARE(ftpReplySaysConnectionLimit(reply), limit);
    }

    // Time-outs and the byte counter reach the connection: the upload counts every byte it moved.
    void countsTransferredBytes()
    {
        QTemporaryDir local;
        const QByteArray content(300000, 'b');
        const QString path = local.filePath(QStringLiteral("big.bin"));
        QVERIFY(writeAll(path, content));
        std::atomic<qint64> counter = 0;
        FtpSession session(credentials(), FtpTimeouts{3000, 0}, &counter);
        QVERIFY(session.connect());
        QVERIFY(FtpPutFileA(session.connection(), path.toUtf8().constData(), "/big.bin", FTP_TRANSFER_TYPE_BINARY, 0));
        QCOMPARE(counter.load(), qint64(content.size()));
        QCOMPARE(readAll(m_server.root() + QStringLiteral("/big.bin")), content);
    }
};

QTEST_GUILESS_MAIN(TestFtpSession)
#include "tst_ftpsession.moc"
