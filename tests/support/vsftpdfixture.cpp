#include "vsftpdfixture.h"

#include "ftpserverfixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;

} // namespace

bool VsftpdFixture::isAvailable()
{
    return geteuid() == 0 && QFile::exists(QStringLiteral("/usr/sbin/vsftpd"));
}

VsftpdFixture::VsftpdFixture()
{
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
}

VsftpdFixture::~VsftpdFixture()
{
    stop();
}

bool VsftpdFixture::start(const QString& certificateFile, const QString& keyFile, const QString& maxTls)
{
    stop();
    if (!m_root.isValid() || !m_work.isValid())
        return false;
    const QString emptyDir = m_work.filePath(QStringLiteral("empty"));
    QDir().mkpath(emptyDir);
    // The sessions run as the system's "ftp" user inside the root, which it may enter but not write (vsftpd
    // insists); it writes in /pub.
    QFile::setPermissions(m_root.path(), QFileDevice::Permissions(0x7755));
    QFile::setPermissions(m_work.path(), QFileDevice::Permissions(0x7755));
    const QString pub = m_root.filePath(QStringLiteral("pub"));
    QDir().mkpath(pub);
    QFile::setPermissions(pub, QFileDevice::Permissions(0x7777));
    QFile::remove(m_work.filePath(QStringLiteral("vsftpd.log")));
    // The port is free a moment before vsftpd binds it; a second try covers the rare case that it was taken.
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_port = freeLoopbackPort();
        const QString configPath = m_work.filePath(QStringLiteral("vsftpd.conf"));
        QFile config(configPath);
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        const QStringList lines{
            QStringLiteral("listen=YES"),
            QStringLiteral("listen_ipv6=NO"),
            QStringLiteral("listen_address=127.0.0.1"),
            QStringLiteral("listen_port=%1").arg(m_port),
            QStringLiteral("background=NO"),
            // Anonymous sessions are locked into the root, which they see as "/", as a host's users are.
            QStringLiteral("secure_chroot_dir=%1").arg(emptyDir),
            QStringLiteral("anonymous_enable=YES"),
            QStringLiteral("local_enable=NO"),
            QStringLiteral("anon_root=%1").arg(m_root.path()),
            QStringLiteral("write_enable=YES"),
            QStringLiteral("anon_upload_enable=YES"),
            QStringLiteral("anon_mkdir_write_enable=YES"),
            QStringLiteral("anon_other_write_enable=YES"),
            QStringLiteral("anon_umask=022"),
            QStringLiteral("ssl_enable=YES"),
            QStringLiteral("allow_anon_ssl=YES"),
            QStringLiteral("force_anon_logins_ssl=YES"),
            QStringLiteral("force_anon_data_ssl=YES"),
            QStringLiteral("require_ssl_reuse=YES"),
            // Debian's default is one RSA cipher for TLS 1.2; the test certificates have EC keys.
            QStringLiteral("ssl_ciphers=HIGH"),
            QStringLiteral("rsa_cert_file=%1").arg(certificateFile),
            QStringLiteral("rsa_private_key_file=%1").arg(keyFile),
            QStringLiteral("xferlog_enable=YES"),
            QStringLiteral("xferlog_std_format=NO"),
            QStringLiteral("log_ftp_protocol=YES"),
            QStringLiteral("debug_ssl=YES"),
            QStringLiteral("vsftpd_log_file=%1").arg(m_work.filePath(QStringLiteral("vsftpd.log"))),
        };
        config.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
        config.close();

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!maxTls.isEmpty()) {
            // OpenSSL reads this at vsftpd's start; the cap holds for every connection it accepts.
            const QString opensslConfig = m_work.filePath(QStringLiteral("openssl.cnf"));
            QFile file(opensslConfig);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return false;
            file.write("openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\nsystem_default = tls\n[tls]\n"
                       "MaxProtocol = " +
                       maxTls.toLatin1() + "\n");
            file.close();
            environment.insert(QStringLiteral("OPENSSL_CONF"), opensslConfig);
        }
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral("/usr/sbin/vsftpd"), {configPath});
        if (!m_process.waitForStarted())
            return false;
        QDeadlineTimer deadline(kStartTimeoutMs);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            if (loopbackServerGreets(m_port, "220"))
                return true;
            QThread::msleep(50);
        }
        stop();
    }
    return false;
}

void VsftpdFixture::stop()
{
    stopServerProcess(m_process);
}

QStringList VsftpdFixture::log() const
{
    QFile file(m_work.filePath(QStringLiteral("vsftpd.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int VsftpdFixture::replies(int code) const
{
    return int(
        log().filter(QRegularExpression(QStringLiteral("FTP response: Client \"[^\"]*\", \"%1 ").arg(code))).size());
}

int VsftpdFixture::commands(const QString& verb) const
{
    return int(log()
                   .filter(QRegularExpression(
                       QStringLiteral("FTP command: Client \"[^\"]*\", \"%1 ").arg(QRegularExpression::escape(verb))))
                   .size());
}
