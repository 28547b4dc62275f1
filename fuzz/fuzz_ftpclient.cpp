// Our ftp client, whole: its reading of the script and of the server's replies, against a server on loopback
// that answers every command with the fuzzer's next reply text.
//
// Input: the script, then "\n%%\n" and the server's replies, one text per command (the first is the greeting),
// also separated by "\n%%\n". Data connections are always refused, so no listing bytes mix into the output.
//
// The target runs in a network namespace of its own (made at start-up), so whatever host a script opens, nothing
// leaves the process's own loopback; its server listens there on port 21.

#include "ftp/ftpclient.h"

#include "fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray Separator = "\n%%\n";
int g_listener = -1;

bool writeText(const char* path, const QByteArray& text)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// A user and network namespace of our own with only loopback, up.
void isolateNetwork()
{
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        std::perror("fuzz_ftpclient: cannot make a network namespace of its own");
        std::exit(1);
    }
    writeText("/proc/self/setgroups", "deny");
    if (!writeText("/proc/self/uid_map", "0 " + QByteArray::number(uid) + " 1") ||
        !writeText("/proc/self/gid_map", "0 " + QByteArray::number(gid) + " 1")) {
        std::fprintf(stderr, "fuzz_ftpclient: cannot map the user into its namespace\n");
        std::exit(1);
    }
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
    if (s < 0 || ioctl(s, SIOCGIFFLAGS, &request) != 0 || (request.ifr_flags |= IFF_UP, false) ||
        ioctl(s, SIOCSIFFLAGS, &request) != 0) {
        std::perror("fuzz_ftpclient: cannot bring up loopback");
        std::exit(1);
    }
    close(s);
}

int listenOnLoopback()
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(21);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 8) != 0) {
        std::perror("fuzz_ftpclient: cannot listen on 127.0.0.1:21");
        std::exit(1);
    }
    return s;
}

bool readable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

void sendAll(int fd, const QByteArray& bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

// Answers each command line with the next reply text; closes when the texts run out or the client goes quiet
// (a reply the client is still waiting to see end).
void serve(const QList<QByteArray>& replies, const std::atomic<bool>& stop)
{
    qsizetype next = 0;
    while (!stop) {
        if (!readable(g_listener, 20))
            continue;
        const int connection = accept4(g_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        QByteArray pending;
        bool open = next < replies.size();
        if (open)
            sendAll(connection, replies[next++]);
        while (open && !stop) {
            const qsizetype end = pending.indexOf('\n');
            if (end < 0) {
                char buffer[4096];
                const ssize_t n = readable(connection, 30) ? recv(connection, buffer, sizeof buffer, 0) : 0;
                if (n <= 0)
                    break;
                pending.append(buffer, n);
                continue;
            }
            const QByteArray command = pending.left(end).trimmed().toUpper();
            pending.remove(0, end + 1);
            if (command.startsWith("EPRT") || command.startsWith("PORT") || command.startsWith("EPSV") ||
                command.startsWith("PASV") || command.startsWith("LPRT")) {
                sendAll(connection, "500 No data connections here.\r\n");
            } else if (command.startsWith("QUIT")) {
                sendAll(connection, "221 Goodbye.\r\n");
                break;
            } else if (next < replies.size()) {
                sendAll(connection, replies[next++]);
            } else {
                break;
            }
        }
        close(connection);
    }
}

// The command lines the client echoes: every non-blank script line but the host, user ID and password lines
// that belong to an "open", up to a quit or bye.
QList<QByteArray> expectedEchoes(const QByteArray& script)
{
    QList<QByteArray> lines = script.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    QList<QByteArray> echoes;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray text = lines[i].trimmed();
        if (text.isEmpty())
            continue;
        echoes << QByteArray(lines[i]).replace('\r', ' ').replace('\0', ' '); // shown as blanks
        const qsizetype blank = text.indexOf(' ');
        const QByteArray word = (blank < 0 ? text : text.left(blank)).toLower();
        if (word == "open")
            i += blank < 0 || text.mid(blank + 1).trimmed().isEmpty() ? 3 : 2;
        else if (word == "quit" || word == "bye")
            break;
    }
    return echoes;
}

bool isClientMessage(const QByteArray& line)
{
    static const char* const starts[] = {
        "ftp> ", "Connected to ",  "User (",           "Password:",     "Login failed.",
        "ftp: ", "Not connected.", "Invalid command.", "Unknown host ", "Connection closed by remote host."};
    for (const char* start : starts) {
        if (line.startsWith(start))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    isolateNetwork();
    g_listener = listenOnLoopback();
    if (!std::freopen("/dev/null", "r", stdin))
        std::exit(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype cut = input.indexOf(Separator);
    const QByteArray script = cut < 0 ? input : input.left(cut + 1);
    QList<QByteArray> replies;
    if (cut >= 0) {
        for (qsizetype at = cut + Separator.size();;) {
            const qsizetype end = input.indexOf(Separator, at);
            replies << input.mid(at, end < 0 ? -1 : end + 1 - at);
            if (end < 0)
                break;
            at = end + Separator.size();
        }
    }

    const QString scriptPath = dir.filePath(QStringLiteral("ftpcmd.txt"));
    const QString outputPath = dir.filePath(QStringLiteral("output.txt"));
    FUZZ_CHECK(writeText(QFile::encodeName(scriptPath).constData(), script), scriptPath);

    std::atomic<bool> stop = false;
    std::thread server(serve, std::cref(replies), std::cref(stop));
    std::fflush(stdout);
    const int savedOut = dup(STDOUT_FILENO);
    const int out = open(QFile::encodeName(outputPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(out, STDOUT_FILENO);
    close(out);
    const int code = runFtpClient({QStringLiteral("ftp"), QStringLiteral("-s:") + scriptPath});
    std::fflush(stdout);
    dup2(savedOut, STDOUT_FILENO);
    close(savedOut);
    stop = true;
    server.join();

    QFile file(outputPath);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), outputPath);
    const QByteArray output = file.readAll();
    const QString shown = QString::fromUtf8(output);
    FUZZ_CHECK(code == 0, shown);
    FUZZ_CHECK(output.isEmpty() || output.endsWith('\n'), shown);

    QList<QByteArray> lines = output.split('\n');
    lines.removeLast();
    QList<QByteArray> echoes;
    for (const QByteArray& line : lines) {
        // the caller splits at CR as well and cuts at NUL: neither may stand inside a line
        FUZZ_CHECK(!line.contains('\r') && !line.contains('\0'),
                   QString::fromUtf8(line) + QLatin1String("\n in:\n") + shown);
        // a reply line starts with its code or a blank, so none can pass for a listing line
        FUZZ_CHECK(isClientMessage(line) || line.startsWith(' ') ||
                       (!line.isEmpty() && line[0] >= '0' && line[0] <= '9'),
                   QString::fromUtf8(line) + QLatin1String("\n in:\n") + shown);
        if (line.startsWith("ftp> "))
            echoes << line.mid(5);
    }
    FUZZ_CHECK(echoes == expectedEchoes(script), shown);
    return 0;
}
