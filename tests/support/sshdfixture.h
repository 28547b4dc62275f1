#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Debian's OpenSSH server (sshd with its internal-sftp) on 127.0.0.1, for SFTP.
//
// Contract (test main thread): start() makes host keys anew, writes a configuration of its own, creates a test
// user of its own (a password and authorized ed25519 keys; useradd, so the test must run as root: isAvailable()),
// launches sshd and returns once it sends its version line (about 10 s at most); false when it did not come up.
// stop() or the destructor ends sshd and removes the user. The login directory is root(), which the user owns:
// where the folders allow it (every folder above the server's root owned by root and writable by no one else, as
// sshd demands) the sessions are locked into the server's root and see root() as "/pub", with owners shown as
// numbers; elsewhere (under /tmp) they run unlocked in root() as their home.
class SshdFixture
{
public:
    struct Options
    {
        bool rsaHostKeyOnly = false; // the server offers only an RSA host key
        int maxStartups = 0;         // sshd's MaxStartups (connections not yet logged in); 0: sshd's default
        int maxSessions = -1;        // sshd's MaxSessions per connection (0: none at all); -1: sshd's default
    };
    enum class Key
    {
        Ed25519,
        Ed25519WithPassphrase,
        Rsa
    };

    SshdFixture();
    ~SshdFixture();
    SshdFixture(const SshdFixture&) = delete;
    SshdFixture& operator=(const SshdFixture&) = delete;

    static bool isAvailable();
    bool start(const Options& options);
    bool start() { return start(Options()); }
    void stop();

    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    quint16 port() const { return m_port; }
    QString user() const { return m_user; }
    static QString password() { return QStringLiteral("pelno-secret-1"); }
    static QString passphrase() { return QStringLiteral("pelno-passphrase"); }
    // "SHA256:..." as `ssh-keygen -l` prints it.
    QString hostKeyFingerprint() const { return m_fingerprint; }
    QString root() const { return m_login; }
    bool chrooted() const { return m_chrooted; }
    // A private key file the server accepts for user() (the RSA one too: it is authorized, the client cannot use it).
    QString keyFile(Key key) const;
    // Gives everything below root() to the test user, so files a test put there as root can be deleted over SFTP.
    void handOver() const;
    // Successful logins so far ("Accepted ..." lines of the server's log).
    int logins() const;
    QStringList log() const;

private:
    bool makeKey(const QString& type, const QString& path, const QString& passphrase) const;
    void removeUser();

    std::unique_ptr<QTemporaryDir> m_base;
    QTemporaryDir m_work;
    QProcess m_process;
    QString m_user;
    QString m_login;
    QString m_fingerprint;
    quint16 m_port = 0;
    bool m_chrooted = false;
};
