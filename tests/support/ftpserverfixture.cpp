#include "ftpserverfixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
constexpr int kStartTimeoutMs = 10000;
}

FtpServerFixture::FtpServerFixture()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

FtpServerFixture::~FtpServerFixture()
{
    stop();
}

QList<FtpServerFixture::BadCwdReply> FtpServerFixture::badCwdReplies()
{
    return {
        {QStringLiteral("dropped"), QByteArray()},
        {QStringLiteral("forged"), "550 No such directory\rdrwxr-xr-x 1 u g 0 Jan 1 00:00 planted"},
        {QStringLiteral("tworeplies"), "250-Directory message\r\n550 No such directory"},
        {QStringLiteral("nul"), QByteArray("250-Directory") + '\0' + QByteArray(" message\r\n550 No such directory")},
        {QStringLiteral("barecode"), "250\r\n550 No such directory"}};
}

QString FtpServerFixture::user()
{
    return QStringLiteral("tester");
}

QString FtpServerFixture::password()
{
    // ':' and '@' would break a password carried in a URL, so they check that it never is
    return QStringLiteral("s3cret:P@ss");
}

bool FtpServerFixture::start(const Options& options)
{
    stop();
    if (!m_root.isValid() || !m_work.isValid())
        return false;
    const QString logPath = m_work.filePath(QStringLiteral("events.log"));
    QFile::remove(logPath);
    m_clearedEvents = 0;

    // One retry on a fresh port covers the rare case that the old port was taken while the server was down.
    for (int attempt = 0; attempt < 2; ++attempt) {
        QStringList arguments{QStringLiteral(PELNO_FTPSERVER_SCRIPT),
                              QStringLiteral("--root"),
                              m_root.path(),
                              QStringLiteral("--user"),
                              user(),
                              QStringLiteral("--password"),
                              password(),
                              QStringLiteral("--port"),
                              QString::number(attempt == 0 ? m_port : 0),
                              QStringLiteral("--log"),
                              logPath};
        for (const QString& dir : options.readOnlyDirs)
            arguments << QStringLiteral("--readonly") << dir;
        for (const QString& dir : options.noEnterDirs)
            arguments << QStringLiteral("--noenter") << dir;
        if (!m_banner.isEmpty())
            arguments << QStringLiteral("--banner") << m_banner;
        if (!m_stalledName.isEmpty())
            arguments << QStringLiteral("--stall") << m_stalledName;
        if (m_uploadRateLimit > 0)
            arguments << QStringLiteral("--read-limit") << QString::number(m_uploadRateLimit);
        if (!m_heldName.isEmpty()) {
            arguments << QStringLiteral("--hold") << m_heldName << QStringLiteral("--release") << releasePath();
            QFile::remove(releasePath());
        }
        if (m_listenAddress != QLatin1String("127.0.0.1"))
            arguments << QStringLiteral("--listen") << m_listenAddress;
        for (const auto& [dir, reply] : m_cwdReplies)
            arguments << QStringLiteral("--cwd-reply") << dir + QLatin1Char('=') + QString::fromLatin1(reply.toHex());
        if (!m_tlsCertificate.isEmpty())
            arguments << QStringLiteral("--tls-cert") << m_tlsCertificate << QStringLiteral("--tls-key") << m_tlsKey;
        if (m_refuseActive)
            arguments << QStringLiteral("--refuse-active");
        if (!m_offerMlsd)
            arguments << QStringLiteral("--no-mlsd");
        if (m_refuseRenameOver)
            arguments << QStringLiteral("--refuse-rename-over");
        if (!m_abortedUploadPrefix.isEmpty())
            arguments << QStringLiteral("--abort-uploads-named") << m_abortedUploadPrefix;
        if (m_changesPerSession > 0)
            arguments << QStringLiteral("--close-after-changes") << QString::number(m_changesPerSession);
        if (m_maxConnectionsPerAddress > 0)
            arguments << QStringLiteral("--max-cons-per-ip") << QString::number(m_maxConnectionsPerAddress);
        if (m_maxConnectionsPerAddress > 0 && m_limitReply == LimitReply::AtPassword)
            arguments << QStringLiteral("--limit-at-password");
        // Always passed: the file decides, so a running server starts refusing the moment it appears.
        arguments << QStringLiteral("--refuse-logins-when") << refuseLoginsPath();

        if (m_namespace.isEmpty())
            m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
        else
            m_process.start(QStandardPaths::findExecutable(QStringLiteral("ip"),
                                                           {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}),
                            QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_namespace,
                                        QStringLiteral("/usr/bin/python3")} +
                                arguments);
        if (!m_process.waitForStarted(kStartTimeoutMs))
            return false;

        QByteArray received;
        QDeadlineTimer deadline(kStartTimeoutMs);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            if (m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                received += m_process.readAllStandardOutput();
            const int end = received.indexOf('\n');
            if (received.startsWith("PORT ") && end > 0) {
                bool ok = false;
                const uint port = received.mid(5, end - 5).trimmed().toUInt(&ok);
                if (ok && port > 0 && port <= 0xFFFF) {
                    m_port = quint16(port);
                    return true;
                }
                break;
            }
        }
        stop();
        if (m_port == 0)
            return false;
    }
    return false;
}

void stopServerProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool loopbackServerGreets(quint16 port, const QByteArray& prefix)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(500))
        return false;
    while (socket.bytesAvailable() < prefix.size() && socket.waitForReadyRead(500)) {
    }
    return socket.readAll().startsWith(prefix);
}

void FtpServerFixture::stop()
{
    stopServerProcess(m_process);
}

bool FtpServerFixture::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

QString FtpServerFixture::root() const
{
    return m_root.path();
}

quint16 FtpServerFixture::port() const
{
    return m_port;
}

QString FtpServerFixture::host() const
{
    return QStringLiteral("%1:%2").arg(m_listenAddress, QString::number(m_port));
}

QStringList FtpServerFixture::events() const
{
    QFile file(m_work.filePath(QStringLiteral("events.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const int cleared = m_clearedEvents;
    return lines.mid(qMin(cleared, int(lines.size())));
}

QStringList FtpServerFixture::commands() const
{
    QStringList result;
    for (const QString& line : events()) {
        if (line.startsWith(QLatin1String("CMD ")))
            result << line.mid(4);
    }
    return result;
}

QStringList FtpServerFixture::commandsOfSession(int session) const
{
    const QString prefix = QString::number(session) + QLatin1Char(' ');
    QStringList result;
    for (const QString& command : commands()) {
        if (command.startsWith(prefix))
            result << command.mid(prefix.size());
    }
    return result;
}

int FtpServerFixture::logins() const
{
    int count = 0;
    for (const QString& line : events())
        count += line.startsWith(QLatin1String("LOGIN ")) ? 1 : 0;
    return count;
}

QList<int> FtpServerFixture::closedSessions() const
{
    QList<int> result;
    for (const QString& line : events()) {
        if (line.startsWith(QLatin1String("CLOSED ")))
            result << line.section(QLatin1Char(' '), 1, 1).toInt();
    }
    return result;
}

void FtpServerFixture::clearLog()
{
    m_clearedEvents = 0;
    m_clearedEvents = int(events().size());
}

QList<qint64> FtpServerFixture::uploadWireBytes() const
{
    QList<qint64> result;
    for (const QString& line : events()) {
        if (line.startsWith(QLatin1String("RECEIVED ")))
            result << line.section(QLatin1Char(' '), 2, 2).toLongLong();
    }
    return result;
}

QString FtpServerFixture::refuseLoginsPath() const
{
    return m_work.filePath(QStringLiteral("refuse-logins"));
}

void FtpServerFixture::refuseLogins(bool refuse)
{
    if (!refuse) {
        QFile::remove(refuseLoginsPath());
        return;
    }
    QFile file(refuseLoginsPath());
    if (!file.open(QIODevice::WriteOnly))
        qWarning("cannot make the server refuse logins: %s", qPrintable(file.errorString()));
}

int FtpServerFixture::refusedConnections() const
{
    int count = 0;
    for (const QString& line : events())
        count += line.startsWith(QLatin1String("REFUSED ")) ? 1 : 0;
    return count;
}

int FtpServerFixture::mostSimultaneousLogins() const
{
    QSet<QString> loggedIn;
    qsizetype most = 0;
    for (const QString& line : events()) {
        const QString session = line.section(QLatin1Char(' '), 1, 1);
        if (line.startsWith(QLatin1String("LOGIN ")))
            loggedIn.insert(session);
        else if (line.startsWith(QLatin1String("CLOSED ")))
            loggedIn.remove(session);
        most = qMax(most, loggedIn.size());
    }
    return int(most);
}

QString FtpServerFixture::releasePath() const
{
    return m_work.filePath(QStringLiteral("release"));
}

void FtpServerFixture::releaseHeldUpload()
{
    QFile file(releasePath());
    if (!file.open(QIODevice::WriteOnly))
        qWarning("cannot release the held upload: %s", qPrintable(file.errorString()));
}

QList<bool> FtpServerFixture::passwordsOverTls() const
{
    QList<bool> result;
    for (const QString& line : events()) {
        if (line.startsWith(QLatin1String("PASS ")))
            result << (line.section(QLatin1Char(' '), 2, 2) == QLatin1String("1"));
    }
    return result;
}

int FtpServerFixture::secureDataConnections() const
{
    int count = 0;
    for (const QString& line : events())
        count += line.startsWith(QLatin1String("SECUREDATA ")) ? 1 : 0;
    return count;
}

QStringList FtpServerFixture::peerAddresses() const
{
    QStringList result;
    for (const QString& line : events()) {
        if (line.startsWith(QLatin1String("CONNECT ")))
            result << line.section(QLatin1Char(' '), 2, 2);
    }
    return result;
}
