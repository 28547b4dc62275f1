#include "ftp/profiles.h"

#include "settings/appconfig.h"

namespace {
const QString AppSection = QStringLiteral("app");
const QString DefaultKey = QStringLiteral("defaultConnection");
const QString NamesKey = QStringLiteral("cn_names");
const QString ServerKey = QStringLiteral("server");
const QString UserKey = QStringLiteral("userid");
const QString PasswordKey = QStringLiteral("password");
const QString DataConnectionKey = QStringLiteral("dataconnection");
const QString SecurityKey = QStringLiteral("security");
const QString PinnedKeyKey = QStringLiteral("pinnedkey");
const QString ProtocolKey = QStringLiteral("protocol");
const QString HostKeyKey = QStringLiteral("hostkey");
const QString KeyFileKey = QStringLiteral("keyfile");
const QString PassphraseKey = QStringLiteral("keypassphrase");
} // namespace

QString ProfileSection(const QString& name)
{
    return QStringLiteral("cn_") + name;
}

Credentials readProfile(const AppConfig& config, const QString& name)
{
    const QString section = ProfileSection(name);
    Credentials profile{config.readString(section, ServerKey, QString()),
                        config.readString(section, UserKey, QString()),
                        config.readString(section, PasswordKey, QString()),
                        {}};
    profile.settings.dataConnection = dataConnectionFromText(config.readString(section, DataConnectionKey, QString()));
    profile.settings.tls = tlsFromText(config.readString(section, SecurityKey, QString()));
    const QString pin = config.readString(section, PinnedKeyKey, QString());
    profile.settings.pinnedKey = isPinnedKeyText(pin) ? pin : QString();
    profile.settings.protocol = protocolFromText(config.readString(section, ProtocolKey, QString()));
    const QString hostKey = config.readString(section, HostKeyKey, QString());
    profile.settings.hostKey = isHostKeyText(hostKey) ? hostKey : QString();
    profile.settings.keyFile = config.readString(section, KeyFileKey, QString());
    profile.settings.keyPassphrase = config.readString(section, PassphraseKey, QString());
    return profile;
}

QString readDefaultProfileName(const AppConfig& config)
{
    return config.readString(AppSection, DefaultKey, QString());
}

QStringList readProfileNames(const AppConfig& config)
{
    // A name holding a line break cannot have a section of its own, and a list holding one could never be written
    // back: every later connect would fail to store its profile. Such a name is not offered.
    QStringList names = readCommaList(config.readString(AppSection, NamesKey, QString()));
    names.removeIf(
        [](const QString& name) { return name.contains(QLatin1Char('\r')) || name.contains(QLatin1Char('\n')); });
    return names;
}

bool isProfileListed(const QStringList& names, const QString& name)
{
    return names.contains(name, Qt::CaseInsensitive);
}

void storeProfile(AppConfig& config, const QString& name, const Credentials& profile, QStringList& names)
{
    const QString section = ProfileSection(name);
    // in one write, so a refused value leaves the stored profile as it was rather than half replaced
    config.writeStrings(section, {{ServerKey, profile.server},
                                  {UserKey, profile.userId},
                                  {PasswordKey, profile.password},
                                  {DataConnectionKey, dataConnectionText(profile.settings.dataConnection)},
                                  {SecurityKey, tlsText(profile.settings.tls)},
                                  {PinnedKeyKey, profile.settings.pinnedKey},
                                  {ProtocolKey, protocolText(profile.settings.protocol)},
                                  {HostKeyKey, profile.settings.hostKey},
                                  {KeyFileKey, profile.settings.keyFile},
                                  {PassphraseKey, profile.settings.keyPassphrase}});
    config.writeString(AppSection, DefaultKey, name);
    if (isProfileListed(names, name))
        return;
    QStringList extended = names;
    extended << name;
    config.writeString(AppSection, NamesKey, writeCommaList(extended));
    names = extended;
}
