#include "sshdfixture.h"

#include "ftpserverfixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;
const QString kSshd = QStringLiteral("/usr/sbin/sshd");

int run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(30000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// sshd locks sessions into a folder only when it and every folder above it belong to root and no one else may
// write them.
bool chrootFits(const QString& path)
{
    QString at = QFileInfo(path).absoluteFilePath();
    for (;;) {
        struct stat info = {};
        if (::stat(QFile::encodeName(at).constData(), &info) != 0 || info.st_uid != 0 || (info.st_mode & 022) != 0)
            return false;
        if (at == QLatin1String("/"))
            return true;
        at = QFileInfo(at).path();
    }
}

// Users of earlier runs whose test program is gone (it crashed before removing them).
void removeStaleUsers()
{
    QFile passwd(QStringLiteral("/etc/passwd"));
    if (!passwd.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : passwd.readAll().split('\n')) {
        const QByteArray name = line.left(line.indexOf(':'));
        if (!name.startsWith("pelnosftp"))
            continue;
        const QByteArray pid = name.mid(9, name.indexOf('x') - 9);
        if (!QFileInfo::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)))
            run(QStringLiteral("userdel"), {QString::fromLatin1(name)});
    }
}

} // namespace

bool SshdFixture::isAvailable()
{
    return geteuid() == 0 && QFile::exists(kSshd) && QFile::exists(QStringLiteral("/usr/bin/ssh-keygen"));
}

SshdFixture::SshdFixture()
{
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
}

SshdFixture::~SshdFixture()
{
    stop();
}

bool SshdFixture::makeKey(const QString& type, const QString& path, const QString& passphrase) const
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".pub"));
    QStringList arguments{QStringLiteral("-q"),
                          QStringLiteral("-t"),
                          type,
                          QStringLiteral("-N"),
                          passphrase,
                          QStringLiteral("-f"),
                          path,
                          QStringLiteral("-C"),
                          QStringLiteral("pelno-test")};
    if (type == QLatin1String("rsa"))
        arguments << QStringLiteral("-b") << QStringLiteral("2048");
    return run(QStringLiteral("ssh-keygen"), arguments) == 0;
}

QString SshdFixture::keyFile(Key key) const
{
    switch (key) {
    case Key::Ed25519WithPassphrase:
        return m_work.filePath(QStringLiteral("user_ed25519_pass"));
    case Key::Rsa:
        return m_work.filePath(QStringLiteral("user_rsa"));
    case Key::Ed25519:
        break;
    }
    return m_work.filePath(QStringLiteral("user_ed25519"));
}

bool SshdFixture::start(const Options& options)
{
    stop();
    if (!isAvailable() || !m_work.isValid())
        return false;
    removeStaleUsers();
    // sshd's privilege separation needs this folder; no service made it, since none runs here.
    QDir().mkpath(QStringLiteral("/run/sshd"));
    ::chmod("/run/sshd", 0755);

    const QString programFolder = QCoreApplication::applicationDirPath();
    m_chrooted = chrootFits(programFolder);
    m_base = m_chrooted ? std::make_unique<QTemporaryDir>(programFolder + QStringLiteral("/sshd-root-XXXXXX"))
                        : std::make_unique<QTemporaryDir>();
    if (!m_base->isValid())
        return false;
    ::chmod(QFile::encodeName(m_base->path()).constData(), 0755);
    ::chmod(QFile::encodeName(m_work.path()).constData(), 0755);
    m_login = m_base->filePath(QStringLiteral("pub"));
    QDir().mkpath(m_login);

    static int serial = 0;
    m_user = QStringLiteral("pelnosftp%1x%2").arg(QCoreApplication::applicationPid()).arg(++serial);
    if (run(QStringLiteral("useradd"), {QStringLiteral("-M"), QStringLiteral("-d"), m_login, QStringLiteral("-s"),
                                        QStringLiteral("/usr/sbin/nologin"), m_user}) != 0) {
        m_user.clear();
        return false;
    }
    QProcess chpasswd;
    chpasswd.start(QStringLiteral("chpasswd"), QStringList());
    chpasswd.waitForStarted();
    chpasswd.write((m_user + QLatin1Char(':') + password() + QLatin1Char('\n')).toUtf8());
    chpasswd.closeWriteChannel();
    if (!chpasswd.waitForFinished() || chpasswd.exitCode() != 0)
        return false;
    handOver();

    const QString hostKey = m_work.filePath(QStringLiteral("host_key"));
    if (!makeKey(options.rsaHostKeyOnly ? QStringLiteral("rsa") : QStringLiteral("ed25519"), hostKey, QString()) ||
        !makeKey(QStringLiteral("ed25519"), keyFile(Key::Ed25519), QString()) ||
        !makeKey(QStringLiteral("ed25519"), keyFile(Key::Ed25519WithPassphrase), passphrase()) ||
        !makeKey(QStringLiteral("rsa"), keyFile(Key::Rsa), QString()))
        return false;
    QProcess fingerprint;
    fingerprint.start(QStringLiteral("ssh-keygen"), {QStringLiteral("-l"), QStringLiteral("-f"), hostKey});
    if (!fingerprint.waitForFinished())
        return false;
    m_fingerprint = QString::fromLatin1(fingerprint.readAllStandardOutput()).section(QLatin1Char(' '), 1, 1);

    const QString authorized = m_work.filePath(QStringLiteral("authorized_keys"));
    QFile keys(authorized);
    if (!keys.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const Key key : {Key::Ed25519, Key::Ed25519WithPassphrase, Key::Rsa}) {
        QFile publicKey(keyFile(key) + QStringLiteral(".pub"));
        if (!publicKey.open(QIODevice::ReadOnly))
            return false;
        keys.write(publicKey.readAll());
    }
    keys.close();

    const QString logPath = m_work.filePath(QStringLiteral("sshd.log"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_port = freeLoopbackPort();
        QStringList lines{
            QStringLiteral("ListenAddress 127.0.0.1"),
            QStringLiteral("Port %1").arg(m_port),
            QStringLiteral("HostKey %1").arg(hostKey),
            QStringLiteral("PidFile none"),
            QStringLiteral("UsePAM no"),
            QStringLiteral("PasswordAuthentication yes"),
            QStringLiteral("KbdInteractiveAuthentication no"),
            QStringLiteral("PubkeyAuthentication yes"),
            QStringLiteral("AuthorizedKeysFile %1").arg(authorized),
            QStringLiteral("StrictModes no"),
            QStringLiteral("AllowUsers %1").arg(m_user),
            QStringLiteral("LogLevel VERBOSE"),
            QStringLiteral("Subsystem sftp internal-sftp"),
        };
        if (options.maxStartups > 0)
            lines << QStringLiteral("MaxStartups %1").arg(options.maxStartups);
        if (options.maxSessions >= 0)
            lines << QStringLiteral("MaxSessions %1").arg(options.maxSessions);
        if (m_chrooted) {
            lines << QStringLiteral("ChrootDirectory %1").arg(m_base->path())
                  << QStringLiteral("ForceCommand internal-sftp -d /pub");
        }
        const QString configPath = m_work.filePath(QStringLiteral("sshd_config"));
        QFile config(configPath);
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        config.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
        config.close();
        m_process.start(kSshd, {QStringLiteral("-D"), QStringLiteral("-f"), configPath, QStringLiteral("-E"), logPath});
        if (!m_process.waitForStarted())
            return false;
        QDeadlineTimer deadline(kStartTimeoutMs);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            if (loopbackServerGreets(m_port, "SSH-"))
                return true;
            QThread::msleep(50);
        }
        stopServerProcess(m_process);
    }
    return false;
}

void SshdFixture::stop()
{
    stopServerProcess(m_process);
    removeUser();
}

void SshdFixture::removeUser()
{
    if (m_user.isEmpty())
        return;
    run(QStringLiteral("userdel"), {m_user});
    m_user.clear();
}

void SshdFixture::handOver() const
{
    if (m_user.isEmpty() || m_login.isEmpty())
        return;
    run(QStringLiteral("chown"), {QStringLiteral("-R"), m_user + QLatin1Char(':') + m_user, m_login});
}

QStringList SshdFixture::log() const
{
    QFile file(m_work.filePath(QStringLiteral("sshd.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int SshdFixture::logins() const
{
    return int(log().filter(QStringLiteral("Accepted ")).size());
}
