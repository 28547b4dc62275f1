#include "ftp/connectionsettings.h"

#include <QByteArray>

namespace {
const QString DataPrefix = QStringLiteral("-data:");
const QString TlsPrefix = QStringLiteral("-tls:");
const QString PinPrefix = QStringLiteral("-pin:");
const QString PinScheme = QStringLiteral("sha256//");
const QString ProtocolPrefix = QStringLiteral("-protocol:");
const QString HostKeyPrefix = QStringLiteral("-hostkey:");
const QString KeyPrefix = QStringLiteral("-key:");
const QString HostKeyScheme = QStringLiteral("SHA256:");

bool isKeyFileArgument(const QString& path)
{
    return !path.isEmpty() && !path.contains(QLatin1Char('"')) && !path.contains(QLatin1Char('\n')) &&
           !path.contains(QLatin1Char('\r'));
}
} // namespace

QString dataConnectionText(DataConnectionMode mode)
{
    switch (mode) {
    case DataConnectionMode::Active:
        return QStringLiteral("active");
    case DataConnectionMode::Passive:
        return QStringLiteral("passive");
    case DataConnectionMode::Automatic:
        break;
    }
    return QStringLiteral("auto");
}

DataConnectionMode dataConnectionFromText(const QString& text)
{
    const QString value = text.trimmed().toLower();
    if (value == QLatin1String("active"))
        return DataConnectionMode::Active;
    if (value == QLatin1String("passive"))
        return DataConnectionMode::Passive;
    return DataConnectionMode::Automatic;
}

QString tlsText(TlsMode mode)
{
    switch (mode) {
    case TlsMode::Required:
        return QStringLiteral("required");
    case TlsMode::Off:
        return QStringLiteral("none");
    case TlsMode::WhenOffered:
        break;
    }
    return QStringLiteral("offered");
}

TlsMode tlsFromText(const QString& text)
{
    const QString value = text.trimmed().toLower();
    if (value == QLatin1String("required"))
        return TlsMode::Required;
    if (value == QLatin1String("none"))
        return TlsMode::Off;
    return TlsMode::WhenOffered;
}

QString protocolText(TransferProtocol protocol)
{
    return protocol == TransferProtocol::Sftp ? QStringLiteral("sftp") : QStringLiteral("ftp");
}

TransferProtocol protocolFromText(const QString& text)
{
    return text.trimmed().toLower() == QLatin1String("sftp") ? TransferProtocol::Sftp : TransferProtocol::Ftp;
}

quint16 defaultPort(TransferProtocol protocol)
{
    return protocol == TransferProtocol::Sftp ? 22 : 21;
}

bool isHostKeyText(const QString& text)
{
    if (!text.startsWith(HostKeyScheme) || text.endsWith(QLatin1Char('=')))
        return false;
    const QByteArray encoded = text.mid(HostKeyScheme.size()).toLatin1();
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == 32;
}

bool isPinnedKeyText(const QString& text)
{
    if (!text.startsWith(PinScheme))
        return false;
    const QByteArray encoded = text.mid(PinScheme.size()).toLatin1();
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == 32;
}

QStringList clientArguments(const FtpConnectionSettings& settings)
{
    QStringList arguments{DataPrefix + dataConnectionText(settings.dataConnection), TlsPrefix + tlsText(settings.tls)};
    if (isPinnedKeyText(settings.pinnedKey))
        arguments << PinPrefix + settings.pinnedKey;
    if (settings.protocol == TransferProtocol::Sftp) {
        arguments << ProtocolPrefix + protocolText(settings.protocol);
        if (isHostKeyText(settings.hostKey))
            arguments << HostKeyPrefix + settings.hostKey;
        if (isKeyFileArgument(settings.keyFile))
            arguments << QStringLiteral("\"%1%2\"").arg(KeyPrefix, settings.keyFile);
    }
    return arguments;
}

bool applyClientArgument(const QString& argument, FtpConnectionSettings& settings)
{
    // Values are checked exactly here: a mistyped option must not quietly fall back to a weaker default.
    if (argument.startsWith(DataPrefix, Qt::CaseInsensitive)) {
        const QString value = argument.mid(DataPrefix.size());
        if (dataConnectionText(dataConnectionFromText(value)) != value)
            return false;
        settings.dataConnection = dataConnectionFromText(value);
        return true;
    }
    if (argument.startsWith(TlsPrefix, Qt::CaseInsensitive)) {
        const QString value = argument.mid(TlsPrefix.size());
        if (tlsText(tlsFromText(value)) != value)
            return false;
        settings.tls = tlsFromText(value);
        return true;
    }
    if (argument.startsWith(PinPrefix, Qt::CaseInsensitive)) {
        const QString value = argument.mid(PinPrefix.size());
        if (!isPinnedKeyText(value))
            return false;
        settings.pinnedKey = value;
        return true;
    }
    if (argument.startsWith(ProtocolPrefix, Qt::CaseInsensitive)) {
        const QString value = argument.mid(ProtocolPrefix.size());
        if (protocolText(protocolFromText(value)) != value)
            return false;
        settings.protocol = protocolFromText(value);
        return true;
    }
    if (argument.startsWith(HostKeyPrefix, Qt::CaseInsensitive)) {
        const QString value = argument.mid(HostKeyPrefix.size());
        if (!isHostKeyText(value))
            return false;
        settings.hostKey = value;
        return true;
    }
    if (argument.startsWith(KeyPrefix, Qt::CaseInsensitive)) {
        const QString value = argument.mid(KeyPrefix.size());
        if (!isKeyFileArgument(value))
            return false;
        settings.keyFile = value;
        return true;
    }
    return false;
}
