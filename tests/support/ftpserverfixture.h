#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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
//   CWD into them. Data connections may be active (PORT/EPRT) or passive; connections are not limited.
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
    // From the next start(), the server closes each control connection once it has received this many uploads.
    void setUploadsPerSession(int count) { m_uploadsPerSession = count; }
    void stop();
    bool isRunning() const;

    QString root() const;
    quint16 port() const;
    QString host() const; // "127.0.0.1:<port>"
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
    // Forgets what was recorded so far (the session numbers keep counting).
    void clearLog();

private:
    QStringList events() const;

    QTemporaryDir m_root;
    QTemporaryDir m_work; // the event log lives outside the root, so listings never show it
    QProcess m_process;
    quint16 m_port = 0;
    int m_clearedEvents = 0;
    QString m_banner;
    QString m_stalledName;
    int m_uploadsPerSession = 0; // 0: no limit
};
