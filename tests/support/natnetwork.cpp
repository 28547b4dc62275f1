#include "natnetwork.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <memory>

namespace {

const QString Prefix = QStringLiteral("pelnonat");
constexpr int CommandTimeoutMs = 10000;

QString findTool(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}

} // namespace

NatNetwork::NatNetwork() : m_prefix(Prefix + QString::number(QCoreApplication::applicationPid())) {}

NatNetwork::~NatNetwork()
{
    remove();
}

bool NatNetwork::run(const QString& program, const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(CommandTimeoutMs)) {
        m_reason = QStringLiteral("cannot start %1").arg(program);
        return false;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(CommandTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        m_reason = QStringLiteral("%1 %2 did not finish").arg(program, arguments.join(QLatin1Char(' ')));
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_reason = QStringLiteral("%1 %2 failed: %3")
                       .arg(program, arguments.join(QLatin1Char(' ')),
                            QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}

void NatNetwork::removeStale()
{
    QProcess list;
    list.start(m_ip, {QStringLiteral("netns"), QStringLiteral("list")});
    if (!list.waitForFinished(CommandTimeoutMs))
        return;
    for (const QByteArray& line : list.readAllStandardOutput().split('\n')) {
        const QString name = QString::fromUtf8(line.split(' ').value(0));
        if (!name.startsWith(Prefix) || name.size() < Prefix.size() + 2)
            continue;
        bool ok = false;
        const qint64 pid = name.mid(Prefix.size(), name.size() - Prefix.size() - 1).toLongLong(&ok);
        if (ok && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            run(m_ip, {QStringLiteral("netns"), QStringLiteral("delete"), name});
    }
}

bool NatNetwork::create()
{
    if (::geteuid() != 0) {
        m_reason = QStringLiteral("network namespaces need root");
        return false;
    }
    m_ip = findTool(QStringLiteral("ip"));
    m_nft = findTool(QStringLiteral("nft"));
    if (m_ip.isEmpty() || m_nft.isEmpty()) {
        m_reason = QStringLiteral("`ip` (iproute2) and `nft` (nftables) are needed");
        return false;
    }
    removeStale();
    const QString c = clientNamespace();
    const QString r = m_prefix + QStringLiteral("r");
    const QString s = serverNamespace();
    // interface names are at most 15 characters: keep them short and unique per process
    const QString tag = QStringLiteral("pn%1").arg(QCoreApplication::applicationPid() % 1000000);
    const auto ip = [&](const QString& command) { return run(m_ip, command.split(QLatin1Char(' '))); };
    m_created = true;
    const bool made =
        ip(QStringLiteral("netns add %1").arg(c)) && ip(QStringLiteral("netns add %1").arg(r)) &&
        ip(QStringLiteral("netns add %1").arg(s)) &&
        ip(QStringLiteral("link add %1c netns %2 type veth peer name %1i netns %3").arg(tag, c, r)) &&
        ip(QStringLiteral("link add %1s netns %2 type veth peer name %1o netns %3").arg(tag, s, r)) &&
        ip(QStringLiteral("-n %1 link set lo up").arg(c)) && ip(QStringLiteral("-n %1 link set lo up").arg(s)) &&
        ip(QStringLiteral("-n %1 addr add %2/24 dev %3c").arg(c, clientAddress(), tag)) &&
        ip(QStringLiteral("-n %1 link set %2c up").arg(c, tag)) &&
        ip(QStringLiteral("-n %1 addr add 10.77.0.1/24 dev %2i").arg(r, tag)) &&
        ip(QStringLiteral("-n %1 link set %2i up").arg(r, tag)) &&
        ip(QStringLiteral("-n %1 addr add %2/24 dev %3o").arg(r, routerOutsideAddress(), tag)) &&
        ip(QStringLiteral("-n %1 link set %2o up").arg(r, tag)) &&
        ip(QStringLiteral("-n %1 addr add %2/24 dev %3s").arg(s, serverAddress(), tag)) &&
        ip(QStringLiteral("-n %1 link set %2s up").arg(s, tag)) &&
        ip(QStringLiteral("-n %1 route add default via 10.77.0.1").arg(c)) &&
        // forwarding is a setting of the router's namespace alone
        run(m_ip, {QStringLiteral("netns"), QStringLiteral("exec"), r, QStringLiteral("sh"), QStringLiteral("-c"),
                   QStringLiteral("echo 1 > /proc/sys/net/ipv4/ip_forward")}) &&
        // The server has no route back to 10.77.0.0/24: only the translated source address reaches it.
        run(m_ip,
            {QStringLiteral("netns"), QStringLiteral("exec"), r, m_nft, QStringLiteral("-f"), QStringLiteral("-")},
            QStringLiteral("table ip nat {\n chain post {\n  type nat hook postrouting priority 100;\n"
                           "  oifname \"%1o\" masquerade\n }\n}\n")
                .arg(tag)
                .toUtf8());
    if (!made)
        remove();
    return made;
}

void NatNetwork::remove()
{
    if (!m_created)
        return;
    m_created = false;
    // Deleting a namespace takes its ends of the veth pairs, and so the pairs, with it.
    const QString reason = m_reason;
    for (const QString& suffix : {QStringLiteral("c"), QStringLiteral("r"), QStringLiteral("s")}) {
        if (QFile::exists(QStringLiteral("/run/netns/") + m_prefix + suffix))
            run(m_ip, {QStringLiteral("netns"), QStringLiteral("delete"), m_prefix + suffix});
    }
    m_reason = reason;
}

QStringList NatNetwork::execArguments(const QString& networkNamespace, const QString& program,
                                      const QStringList& arguments) const
{
    return QStringList{QStringLiteral("netns"), QStringLiteral("exec"), networkNamespace, program} + arguments;
}

bool NatNetwork::runInClient(const std::function<void()>& work)
{
    const QByteArray path = QFile::encodeName(QStringLiteral("/run/netns/") + clientNamespace());
    bool joined = false;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        // A thread's network namespace is its own: the rest of the test stays where it was.
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        joined = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        if (joined)
            work();
    }));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    if (!thread->isFinished())
        loop.exec();
    thread->wait();
    return joined;
}
