#include "ftp/connectionsettings.h"

#include <QByteArray>

namespace {
const QString DataPrefix = QStringLiteral("-data:");
const QString TlsPrefix = QStringLiteral("-tls:");
const QString PinPrefix = QStringLiteral("-pin:");
const QString PinScheme = QStringLiteral("sha256//");
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
    return false;
}
