#include "ftp/ftpconnection.h"

#include "ftp/internethandle.h"

#include <QRegularExpression>

namespace {

bool isPortText(const QString& text, quint16& port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (QChar c : text) {
        if (!c.isDigit() || c.unicode() > '9')
            return false;
    }
    const uint value = text.toUInt();
    if (value == 0 || value > 65535)
        return false;
    port = quint16(value);
    return true;
}

bool isHostText(const QString& host)
{
    if (host.isEmpty())
        return false;
    for (QChar c : host) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || QStringLiteral("/\\@?#[]:").contains(c))
            return false;
    }
    return true;
}

bool isIpv6Text(const QString& host)
{
    if (!host.contains(QLatin1Char(':')))
        return false;
    for (QChar c : host) {
        if (c.unicode() > 0x7f || !(c.isDigit() || QStringLiteral("abcdefABCDEF:.").contains(c)))
            return false;
    }
    return true;
}

InternetHandle* connectionOf(HINTERNET handle)
{
    return handle && handle->kind == InternetHandle::Kind::Connection && handle->curl ? handle : nullptr;
}

} // namespace

bool parseFtpServer(const QString& server, quint16 defaultPort, QString& host, quint16& port)
{
    const QString text = server.trimmed();
    QString hostPart = text;
    quint16 portValue = defaultPort;
    bool hostOk = false;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        hostPart = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !(rest.startsWith(QLatin1Char(':')) && isPortText(rest.mid(1), portValue)))
            return false;
        hostOk = isIpv6Text(hostPart);
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        hostPart = text.left(colon);
        hostOk = isPortText(text.mid(colon + 1), portValue) && isHostText(hostPart);
    } else {
        // a bare IPv6 address cannot carry a port without brackets
        hostOk = isHostText(hostPart) || isIpv6Text(hostPart);
    }
    if (!hostOk || portValue == 0)
        return false;
    host = hostPart;
    port = portValue;
    return true;
}

bool ftpReplySaysConnectionLimit(const QByteArray& reply)
{
    static const QRegularExpression limit(
        QStringLiteral("too many|overloaded|try (again|back) later|is restricted to|maximum number|"
                       "number of connect|only.*session.*allowed|more connection"),
        QRegularExpression::CaseInsensitiveOption);
    return limit.match(QString::fromUtf8(reply)).hasMatch();
}

bool ftpSetTranscript(HINTERNET handle, FtpTranscriptSink sink)
{
    if (!handle)
        return false;
    handle->transcript = std::move(sink);
    return true;
}

bool ftpSetByteCounter(HINTERNET handle, std::atomic<qint64>* counter)
{
    if (!handle)
        return false;
    handle->byteCounter = counter;
    return true;
}

int ftpSendCommand(HINTERNET connection, const QByteArray& command)
{
    InternetHandle* handle = connectionOf(connection);
    return handle ? handle->sendCommand(command) : 0;
}

int ftpListing(HINTERNET connection, const QByteArray& command, const std::function<void(const QByteArray&)>& sink,
               qint64* bytes, const QByteArray& directory)
{
    if (bytes)
        *bytes = 0;
    InternetHandle* handle = connectionOf(connection);
    return handle ? handle->listing(command, sink, bytes, directory) : 0;
}

QByteArray ftpLastReplyText(HINTERNET connection)
{
    InternetHandle* handle = connectionOf(connection);
    return handle ? handle->lastReplyText : QByteArray();
}

QString ftpLoginDirectory(HINTERNET connection)
{
    InternetHandle* handle = connectionOf(connection);
    return handle ? handle->loginDirectory : QString();
}

QString ftpLastError(HINTERNET handle)
{
    return handle ? handle->lastError : QString();
}

bool ftpSetConnectionSettings(HINTERNET root, const FtpConnectionSettings& settings)
{
    if (!root)
        return false;
    root->settings = settings;
    return true;
}

bool ftpIsEncrypted(HINTERNET connection)
{
    InternetHandle* handle = connectionOf(connection);
    return handle && handle->controlEncrypted;
}

bool ftpIsPassive(HINTERNET connection)
{
    InternetHandle* handle = connectionOf(connection);
    return handle && handle->passive;
}

FtpCertificate ftpCertificateProblem(HINTERNET root)
{
    return root ? root->certificateProblem : FtpCertificate();
}

bool ftpTlsRefused(HINTERNET root)
{
    return root && root->tlsRefused;
}

bool ftpActiveTlsUnavailable(HINTERNET root)
{
    return root && root->activeTlsUnavailable;
}

SshLoginProblem ftpSshProblem(HINTERNET root)
{
    return root ? root->sshProblem : SshLoginProblem::None;
}

SshHostKey ftpHostKeyProblem(HINTERNET root)
{
    return root ? root->hostKeyProblem : SshHostKey();
}
