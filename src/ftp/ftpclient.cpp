#include "ftp/ftpclient.h"

#include "ftp/ftpconnection.h"
#include "ftp/transcript.h"
#include "ftp/wininet.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <optional>

namespace {

void writeOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void printLine(const QByteArray& line)
{
    writeOut(line + '\n');
    std::fflush(stdout);
}

void printError(const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// Text from the server or about it, printed as one line: control characters (CR and NUL among them) become "?",
// so that nothing the server sends can end the line early and start one that reads as a listing line or a reply.
QByteArray printableLine(QByteArray text)
{
    for (char& c : text) {
        if (uchar(c) < 0x20 || uchar(c) == 0x7F)
            c = '?';
    }
    return text;
}

QByteArray withoutCr(QByteArray text)
{
    text.replace("\r", "");
    return text;
}

// Folds "." and ".." and repeated "/" of an absolute remote path; never climbs above the root.
QByteArray normalisedRemotePath(const QByteArray& path)
{
    QList<QByteArray> parts;
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts << part;
    }
    return "/" + parts.join('/');
}

// Where the command lines come from: the script first, then standard input up to 0x1A or its end.
class LineSource
{
public:
    explicit LineSource(QList<QByteArray> scriptLines) : m_script(std::move(scriptLines)) {}

    std::optional<QByteArray> next()
    {
        if (m_next < m_script.size())
            return m_script[m_next++];
        if (m_inputEnded)
            return std::nullopt;
        QByteArray line;
        for (;;) {
            const int c = std::fgetc(stdin);
            if (c == EOF || c == Transcript::kEndOfInput) {
                m_inputEnded = true;
                if (line.isEmpty())
                    return std::nullopt;
                break;
            }
            if (c == '\n')
                break;
            line.append(char(c));
        }
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }

private:
    QList<QByteArray> m_script;
    qsizetype m_next = 0;
    bool m_inputEnded = false;
};

class FtpClient
{
public:
    FtpClient(LineSource& lines, const FtpConnectionSettings& settings) : m_lines(lines), m_settings(settings) {}
    ~FtpClient() { disconnect(false); }
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    void run()
    {
        while (std::optional<QByteArray> line = m_lines.next()) {
            if (line->trimmed().isEmpty())
                continue;
            // The caller splits the output at CR too and cuts it at NUL: in the echo either shows as a blank.
            printLine(Transcript::kPrompt + QByteArray(*line).replace('\r', ' ').replace('\0', ' '));
            if (!execute(*line))
                break;
        }
    }

private:
    // False when the client is to end.
    bool execute(const QByteArray& line)
    {
        const QByteArray text = line.trimmed();
        const qsizetype blank = text.indexOf(' ');
        const QByteArray word = (blank < 0 ? text : text.left(blank)).toLower();
        const QByteArray argument = blank < 0 ? QByteArray() : text.mid(blank + 1).trimmed();

        if (word == "open") {
            open(argument);
        } else if (word == "cd") {
            changeDirectory(argument);
        } else if (word == "ls") {
            list(argument.isEmpty() ? QByteArray("NLST") : "LIST " + argument);
        } else if (word == "dir") {
            list(argument.isEmpty() ? QByteArray("LIST") : "LIST " + argument);
        } else if (word == "pwd") {
            if (requireConnection()) {
                beginOperation();
                ftpSendCommand(m_connection, "PWD");
            }
        } else if (word == "close" || word == "disconnect") {
            if (requireConnection())
                disconnect(true);
        } else if (word == "quit" || word == "bye") {
            disconnect(true);
            return false;
        } else {
            printLine("Invalid command.");
        }
        return true;
    }

    bool requireConnection()
    {
        if (m_connection)
            return true;
        printLine(Transcript::kNotConnected);
        return false;
    }

    void open(QByteArray argument)
    {
        if (argument.isEmpty())
            argument = m_lines.next().value_or(QByteArray()).trimmed();
        // The user ID and the password follow "open" in any case: were they left to the command loop after a
        // failed connect, they would be echoed as commands and the password would appear in the output.
        const QByteArray user = m_lines.next().value_or(QByteArray());
        const QByteArray password = m_lines.next().value_or(QByteArray());

        disconnect(false);
        QList<QByteArray> words = argument.simplified().split(' ');
        // "sftp://host:port" and "ftp://host:port" choose the protocol; a bare host keeps the client's own.
        FtpConnectionSettings settings = m_settings;
        for (const TransferProtocol protocol : {TransferProtocol::Sftp, TransferProtocol::Ftp}) {
            const QByteArray scheme = protocolText(protocol).toLatin1() + "://";
            if (words[0].toLower().startsWith(scheme)) {
                settings.protocol = protocol;
                words[0] = words[0].mid(scheme.size());
                if (words[0].endsWith('/'))
                    words[0].chop(1);
                break;
            }
        }
        QString host;
        quint16 port = ::defaultPort(settings.protocol);
        bool portOk = true;
        quint16 defaultPort = port;
        if (words.size() == 2) {
            const uint value = words[1].toUInt(&portOk);
            portOk = portOk && value > 0 && value <= 65535;
            defaultPort = quint16(value);
        }
        if (words.size() > 2 || !portOk ||
            !parseFtpServer(QString::fromUtf8(words.value(0)), defaultPort, host, port)) {
            // shown like the echo: a CR or NUL in the name would split or cut the line for the caller
            printLine("Unknown host " + QByteArray(argument).replace('\r', ' ').replace('\0', ' ') + ".");
            return;
        }
        m_hostText = host.toUtf8();

        m_root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        if (!m_root) {
            printLine("ftp: connect :cannot initialise the connection");
            return;
        }
        m_inOpen = true;
        m_sawReply = false;
        m_sentUser = false;
        beginOperation();
        ftpSetTranscript(m_root, [this](FtpTranscriptKind kind, const QByteArray& line) { onTranscript(kind, line); });
        ftpSetConnectionSettings(m_root, settings);
        // One arg() call: chained calls would read a "%2" inside the host as a place for the port.
        const QString portText = QString::number(port);
        const QString server = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host, portText)
                                                               : QStringLiteral("%1:%2").arg(host, portText);
        m_connection = InternetConnectA(m_root, server.toUtf8().constData(), port, user.constData(),
                                        password.constData(), INTERNET_SERVICE_FTP, 0, 0);
        m_inOpen = false;
        if (m_connection) {
            m_loginDirectory = ftpLoginDirectory(m_connection).toUtf8();
            if (!m_loginDirectory.startsWith('/'))
                m_loginDirectory = "/";
            m_currentDirectory = m_loginDirectory;
            return;
        }
        if (ftpActiveTlsUnavailable(m_root))
            printLine("ftp: " + printableLine(ftpLastError(m_root).toUtf8()));
        else if (!m_sawReply)
            printLine("ftp: connect :" + printableLine(ftpLastError(m_root).toUtf8()));
        else if (m_sentUser)
            printLine("Login failed.");
        else
            printLine("Connection closed by remote host.");
        InternetCloseHandle(m_root);
        m_root = nullptr;
    }

    // What the connection is doing, as far as the transcript tells: only replies to the script's commands and
    // to the data connection set-up are printed; a login that the connection makes again by itself (after the
    // server closed the old one) and the CWD that precedes a listing stay out of the transcript.
    enum class Phase
    {
        Start,
        Login,
        LoginPwd,
        Internal,
        Normal
    };

    void beginOperation(Phase phase = Phase::Start)
    {
        m_phase = phase;
        m_internalCommand.clear();
    }

    void onTranscript(FtpTranscriptKind kind, const QByteArray& line)
    {
        if (kind == FtpTranscriptKind::Command) {
            if (line.startsWith("USER ")) {
                m_phase = Phase::Login;
                if (m_inOpen) {
                    m_sentUser = true;
                    printLine("User (" + m_hostText + ":(none)): ");
                }
            } else if (line.startsWith("AUTH ") || line.startsWith("PBSZ ") || line.startsWith("PROT ")) {
                m_phase = Phase::Login; // TLS is part of the login
            } else if (line.startsWith("PASS")) {
                m_phase = Phase::Login;
                if (m_inOpen)
                    printLine("Password:");
            } else if (line == "PWD" && m_phase == Phase::Login) {
                m_phase = Phase::LoginPwd;
            } else if (!m_internalCommand.isEmpty() && line == m_internalCommand) {
                m_phase = Phase::Internal;
            } else {
                m_phase = Phase::Normal;
            }
            return;
        }
        if (m_inOpen && !m_sawReply) {
            printLine("Connected to " + m_hostText + ".");
            m_sawReply = true;
        }
        if (m_quietReplies)
            return;
        switch (m_phase) {
        case Phase::Start:
        case Phase::Login:
            if (m_inOpen)
                printReply(line);
            return;
        case Phase::LoginPwd:
            return;
        case Phase::Internal:
            if (!line.isEmpty() && line[0] >= '4')
                printReply(line); // a refusal explains why nothing was listed
            return;
        case Phase::Normal:
            printReply(line);
            return;
        }
    }

    void printReply(const QByteArray& line)
    {
        const bool startsWithDigit = !line.isEmpty() && line[0] >= '0' && line[0] <= '9';
        printLine(printableLine(startsWithDigit ? line : " " + line));
    }

    void changeDirectory(const QByteArray& argument)
    {
        if (!requireConnection())
            return;
        // a name with blanks may stand in double quotes
        const QByteArray path = argument.size() >= 2 && argument.startsWith('"') && argument.endsWith('"')
                                    ? argument.mid(1, argument.size() - 2)
                                    : argument;
        if (path.isEmpty()) {
            printError(QStringLiteral("cd: a remote directory is required"));
            return;
        }
        const QByteArray target = normalisedRemotePath(path.startsWith('/') ? path : m_currentDirectory + "/" + path);
        beginOperation();
        const int code = ftpSendCommand(m_connection, "CWD " + target);
        if (code >= 200 && code < 300)
            m_currentDirectory = target;
        else if (code == 0)
            printLine("ftp: " + printableLine(ftpLastError(m_connection).toUtf8()));
    }

    void list(const QByteArray& command)
    {
        if (!requireConnection())
            return;
        QElapsedTimer clock;
        clock.start();
        bool lineOpen = false;
        qint64 bytes = 0;
        // Naming the directory makes the listing right even when the connection had to be made anew.
        const QByteArray directory = m_currentDirectory == m_loginDirectory ? QByteArray() : m_currentDirectory;
        beginOperation();
        m_internalCommand = directory.isEmpty() ? QByteArray() : "CWD " + directory;
        const int code = ftpListing(
            m_connection, command,
            [&lineOpen](const QByteArray& data) {
                const QByteArray text = withoutCr(data);
                if (text.isEmpty())
                    return;
                writeOut(text);
                lineOpen = !text.endsWith('\n');
            },
            &bytes, directory);
        if (lineOpen)
            writeOut("\n");
        std::fflush(stdout);
        if (code == 226 || code == 250) {
            const qint64 ms = qMax<qint64>(1, clock.elapsed());
            printLine(QByteArray("ftp: ") + QByteArray::number(bytes) + " bytes received in " +
                      QByteArray::number(double(ms) / 1000.0, 'f', 2) + "Seconds " +
                      QByteArray::number(double(bytes) / double(ms), 'f', 2) + "Kbytes/sec.");
        } else if (code == 0) {
            printLine("ftp: " + printableLine(ftpLastError(m_connection).toUtf8()));
        }
    }

    void disconnect(bool showReplies)
    {
        m_quietReplies = !showReplies;
        beginOperation(Phase::Normal);
        if (m_connection)
            InternetCloseHandle(m_connection);
        if (m_root)
            InternetCloseHandle(m_root);
        m_connection = nullptr;
        m_root = nullptr;
        m_quietReplies = false;
    }

    LineSource& m_lines;
    const FtpConnectionSettings m_settings;
    HINTERNET m_root = nullptr;
    HINTERNET m_connection = nullptr;
    QByteArray m_hostText;
    QByteArray m_loginDirectory = "/";
    QByteArray m_currentDirectory = "/";
    QByteArray m_internalCommand;
    Phase m_phase = Phase::Start;
    bool m_inOpen = false;
    bool m_sawReply = false;
    bool m_sentUser = false;
    bool m_quietReplies = false;
};

std::optional<QString> scriptPathOf(const QStringList& arguments, FtpConnectionSettings& settings, QString& problem)
{
    std::optional<QString> script;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (applyClientArgument(argument, settings))
            continue;
        if (!argument.startsWith(QLatin1String("-s:"), Qt::CaseInsensitive)) {
            problem = QStringLiteral("unknown argument %1").arg(argument);
            return std::nullopt;
        }
        QString path = argument.mid(3);
        if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"')))
            path = path.mid(1, path.size() - 2);
        if (path.isEmpty()) {
            problem = QStringLiteral("-s: needs a script file");
            return std::nullopt;
        }
        script = path;
    }
    return script ? script : std::optional<QString>(QString());
}

} // namespace

int runFtpClient(const QStringList& arguments)
{
    QString problem;
    // Without options the client speaks clear-text FTP with active data connections.
    FtpConnectionSettings settings{DataConnectionMode::Active, TlsMode::Off, {}};
    settings.keyPassphrase = qEnvironmentVariable(keyPassphraseVariable);
    const std::optional<QString> scriptPath = scriptPathOf(arguments, settings, problem);
    if (!scriptPath) {
        printError(QStringLiteral(
                       "ftp: %1\nUsage: ftp [-data:auto|active|passive] [-tls:offered|required|none] "
                       "[-pin:sha256//<key>] [-protocol:ftp|sftp] [-hostkey:SHA256:<fingerprint>] [-key:<key file>] "
                       "[-s:<script file>]")
                       .arg(problem));
        return 2;
    }
    QList<QByteArray> scriptLines;
    if (!scriptPath->isEmpty()) {
        QFile script(*scriptPath);
        if (!script.open(QIODevice::ReadOnly)) {
            printError(
                QStringLiteral("ftp: cannot read the script file %1: %2").arg(*scriptPath, script.errorString()));
            return 1;
        }
        scriptLines = script.readAll().split('\n');
        if (!scriptLines.isEmpty() && scriptLines.last().isEmpty())
            scriptLines.removeLast(); // the line end of the last line
        for (QByteArray& line : scriptLines) {
            if (line.endsWith('\r'))
                line.chop(1);
        }
    }
    LineSource lines(std::move(scriptLines));
    FtpClient client(lines, settings);
    client.run();
    return 0;
}
