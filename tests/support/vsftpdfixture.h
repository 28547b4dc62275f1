#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Debian's vsftpd on 127.0.0.1, for what the pyftpdlib server cannot do: TLS required on the control and every
// data connection, and data connections accepted only when they resume the control connection's TLS session
// (require_ssl_reuse, vsftpd's default), as many web hosts run it.
//
// Contract (test main thread): start() writes a configuration of its own, launches vsftpd and returns once it
// greets (about 10 s at most); false when it did not come up. vsftpd locks its sessions into root() (which they
// see as "/") and runs them as the system's "ftp" user, so it needs the test to run as root (isAvailable()).
// Logins are anonymous (user() with any password), with every right in the folder /pub (writable()) and none to
// change the root itself. The server is stopped by stop() or the destructor.
class VsftpdFixture
{
public:
    VsftpdFixture();
    ~VsftpdFixture();
    VsftpdFixture(const VsftpdFixture&) = delete;
    VsftpdFixture& operator=(const VsftpdFixture&) = delete;

    // TLS required with this certificate and key; maxTls "TLSv1.2" caps the server's protocol version there
    // (empty: whatever OpenSSL offers, TLS 1.3 today).
    static bool isAvailable();
    bool start(const QString& certificateFile, const QString& keyFile, const QString& maxTls = QString());
    void stop();

    QString root() const { return m_root.path(); }
    QString writable() const { return m_root.filePath(QStringLiteral("pub")); }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    static QString user() { return QStringLiteral("anonymous"); }

    // The server's protocol log: every command and reply, one line each ("FTP command: ..." / "FTP response:
    // ...") and its TLS remarks ("SSL version: TLSv1.3, ..., reused").
    QStringList log() const;
    // Log lines of replies with this code.
    int replies(int code) const;
    // Log lines of commands that start with this verb ("STOR").
    int commands(const QString& verb) const;

private:
    QTemporaryDir m_root;
    QTemporaryDir m_work;
    QProcess m_process;
    quint16 m_port = 0;
};
