#pragma once

#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Ends a server process the tests started: asked to terminate, killed when it has not within five seconds.
void stopServerProcess(QProcess& process);
// A port on 127.0.0.1 that nothing listens on now (0 when none could be had), for a server process to take.
quint16 freeLoopbackPort();
// Whether a server on 127.0.0.1:port accepts a connection and greets with text beginning with prefix ("220" for FTP,
// "SSH-" for SSH): a started daemon is ready only then.
bool loopbackServerGreets(quint16 port, const QByteArray& prefix);

// A real FTP server (pyftpdlib, tests/support/ftpserver.py) on 127.0.0.1 for the tests.
//
// Contract (use from the test's main thread):
// - The server's root is a temporary folder that the fixture owns for its whole life; tests put files there and
//   check what the server stored there.
// - start() launches the server and returns once it listens (bounded wait of about 10 s); false when it did not
//   come up. It may be called again after stop(): the server comes back on the same root and, when it can, on
//   the same port, so a connection saved by the program under test stays valid.
// - The one user is user() / password() with every right on the root; Options narrow the rights of folders
//   below it (created when missing): read-only folders allow listing and reading only, no-enter folders refuse
//   CWD into them. Data connections may be active (PORT/EPRT) or passive; connections are not limited unless
//   setMaxConnectionsPerAddress() says so.
// - The server records what reached it: commands() and logins() read that record, which start() empties.
class FtpServerFixture
{
public:
    struct Options
    {
        QStringList readOnlyDirs; // relative to the root
        QStringList noEnterDirs;  // relative to the root
    };

    FtpServerFixture();
    ~FtpServerFixture();
    FtpServerFixture(const FtpServerFixture&) = delete;
    FtpServerFixture& operator=(const FtpServerFixture&) = delete;

    bool start(const Options& options = {});
    // Greeting text for the next start(); each "|" in it starts a new line of a multi-line 220 reply. (Kept out
    // of Options so that the tests' brace-initialised Options stay complete.)
    void setBanner(const QString& banner) { m_banner = banner; }
    // From the next start(), an upload of a file with this name (any folder) is never read after it began, so the
    // client's data connection stalls.
    void setStalledUploadName(const QString& name) { m_stalledName = name; }
    // From the next start(), uploads are read at no more than this many bytes a second (0: as fast as they come).
    void setUploadRateLimit(int bytesPerSecond) { m_uploadRateLimit = bytesPerSecond; }
    // From the next start(), the STOR of a file with this name (any folder; empty: none) gets no reply until
    // releaseHeldUpload(): its worker waits inside that file. The client gives up after its reply time-out, so a
    // test releases the file within that time or lets it fail.
    void setHeldUploadName(const QString& name) { m_heldName = name; }
    void releaseHeldUpload();
    // From the next start(), a CWD into dir (relative to the root, created when missing) is answered with reply
    // exactly as given (any bytes, several lines included) plus CR LF; an empty reply makes the server close the
    // control connection instead of answering.
    void setCwdReply(const QString& dir, const QByteArray& reply) { m_cwdReplies.append({dir, reply}); }
    // Replies to CWD that must never let a listing of the login directory pass for the wanted one: none at all
    // (the connection drops), a bare CR followed by a forged listing line naming "planted", a multi-line reply
    // whose final line refuses, a NUL before the refusal, and a bare "250" line (no space after the code, so it
    // ends nothing) before the refusal. Each folder is named after its reply.
    struct BadCwdReply
    {
        QString dir;
        QByteArray reply;
    };
    static QList<BadCwdReply> badCwdReplies();
    // From the next start(), the server listens on this loopback address (127.x.y.z) and first tries this port.
    void setListenAddress(const QString& address, quint16 port)
    {
        m_listenAddress = address;
        m_port = port;
    }
    void setBadCwdReplies()
    {
        for (const BadCwdReply& bad : badCwdReplies())
            setCwdReply(bad.dir, bad.reply);
    }
    // From the next start(), explicit TLS with this certificate (PEM, with its chain) and key; empty: no TLS.
    void setTls(const QString& certificateFile, const QString& keyFile)
    {
        m_tlsCertificate = certificateFile;
        m_tlsKey = keyFile;
    }
    // From the next start(), every PORT/EPRT is answered with 425: only passive data connections work.
    void setRefuseActive(bool refuse) { m_refuseActive = refuse; }
    // From the next start(), the server offers MLSD and MLST (the default) or lists with LIST only.
    void setOfferMlsd(bool offer) { m_offerMlsd = offer; }
    // From the next start(), an RNTO onto a name that exists is refused (550) instead of replacing it.
    void setRefuseRenameOver(bool refuse) { m_refuseRenameOver = refuse; }
    // From the next start(), the upload of a file whose name starts with prefix (empty: none) is cut off after its
    // first bytes: the server closes the data connection and answers 426, and keeps the part it got.
    void setAbortedUploadPrefix(const QString& prefix) { m_abortedUploadPrefix = prefix; }
    // From the next start(), the server runs inside that network namespace (started with `ip netns exec`) and
    // listens on that address there; host() names it. Empty: 127.0.0.1 on this machine.
    void setNetworkNamespace(const QString& name, const QString& address)
    {
        m_namespace = name;
        m_listenAddress = address;
    }
    // From the next start(), the server closes each control connection once it has received this many uploads
    // or deletions.
    void setChangesPerSession(int count) { m_changesPerSession = count; }
    // How a server turns away a connection beyond its limit: a 421 greeting, or a 530 to the password that says
    // why ("530 Sorry, the maximum number of clients (N) from your host are already connected.").
    enum class LimitReply
    {
        AtGreeting,
        AtPassword
    };
    // From the next start(), at most this many control connections (AtGreeting) or logins (AtPassword) from one
    // address at a time (0: no limit); the next is answered as the reply says and closed.
    void setMaxConnectionsPerAddress(int count, LimitReply reply = LimitReply::AtGreeting)
    {
        m_maxConnectionsPerAddress = count;
        m_limitReply = reply;
    }
    // From now on, and after every later start(), every login is answered with 530 (with false: accepted again).
    void refuseLogins(bool refuse = true);
    void stop();
    bool isRunning() const;

    QString root() const;
    quint16 port() const;
    QString host() const; // "127.0.0.1:<port>", or the address of setListenAddress() or setNetworkNamespace()
    static QString user();
    static QString password();

    // Every command line received since start(), in order, as "<session> <line>" (the session numbers count the
    // control connections from 1; the argument of PASS reads "****").
    QStringList commands() const;
    // Commands of one session only, without the session number.
    QStringList commandsOfSession(int session) const;
    // Number of accepted logins since start().
    int logins() const;
    // The sessions whose control connection has ended since start(), in the order they ended.
    QList<int> closedSessions() const;
    // For each upload's data connection, in the order they closed: the bytes as they came over the wire, before
    // the server's own conversion of line ends in ASCII mode.
    QList<qint64> uploadWireBytes() const;
    // For each password received, in order: whether TLS protected the control connection it came over.
    QList<bool> passwordsOverTls() const;
    // Data connections that completed a TLS handshake.
    int secureDataConnections() const;
    // For each control connection, in order: the address it came from.
    QStringList peerAddresses() const;
    // Control connections or logins turned away because of setMaxConnectionsPerAddress().
    int refusedConnections() const;
    // The most sessions that were logged in at the same time (from login to the end of their connection).
    int mostSimultaneousLogins() const;
    // Forgets what was recorded so far (the session numbers keep counting).
    void clearLog();

private:
    QStringList events() const;
    QString releasePath() const;
    QString refuseLoginsPath() const;

    QTemporaryDir m_root;
    QTemporaryDir m_work; // the event log lives outside the root, so listings never show it
    QProcess m_process;
    quint16 m_port = 0;
    int m_clearedEvents = 0;
    QString m_banner;
    QString m_stalledName;
    int m_uploadRateLimit = 0;
    QString m_heldName;
    QList<QPair<QString, QByteArray>> m_cwdReplies;
    QString m_listenAddress = QStringLiteral("127.0.0.1");
    QString m_tlsCertificate;
    QString m_tlsKey;
    bool m_refuseActive = false;
    bool m_offerMlsd = true;
    bool m_refuseRenameOver = false;
    QString m_abortedUploadPrefix;
    QString m_namespace;
    int m_changesPerSession = 0; // 0: no limit
    int m_maxConnectionsPerAddress = 0;
    LimitReply m_limitReply = LimitReply::AtGreeting;
};
