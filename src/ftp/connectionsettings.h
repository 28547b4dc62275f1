#pragma once

#include <QString>
#include <QStringList>

// How a profile's connections are made: which side opens the data connections and whether the connection is
// protected with TLS. The defaults are those of a profile stored without these settings.
//
// Contract: plain values, no I/O. The texts are those stored in the settings file and passed to our `ftp` client;
// an unknown or empty text reads as the default, so older files and hand-edited values keep working.
enum class DataConnectionMode
{
    Automatic, // active where it can work, passive where it cannot (see addressrule.h), passive after a refusal
    Active,
    Passive
};

enum class TlsMode
{
    WhenOffered, // AUTH TLS; clear text only when the server refuses it
    Required,    // no login at all without TLS
    Off
};

struct FtpConnectionSettings
{
    DataConnectionMode dataConnection = DataConnectionMode::Automatic;
    TlsMode tls = TlsMode::WhenOffered;
    // "sha256//<base64>" of the public key the user chose to trust for this server; empty when none. With a key
    // pinned, that key is accepted and every other one refused, whatever the certificate authorities say.
    QString pinnedKey;

    bool operator==(const FtpConnectionSettings&) const = default;
};

QString dataConnectionText(DataConnectionMode mode); // "auto", "active", "passive"
DataConnectionMode dataConnectionFromText(const QString& text);
QString tlsText(TlsMode mode); // "offered", "required", "none"
TlsMode tlsFromText(const QString& text);

// A pin is "sha256//" followed by the base64 of 32 bytes; anything else is no pin.
bool isPinnedKeyText(const QString& text);

// The options of our `ftp` client that carry the settings: "-data:<mode>", "-tls:<mode>" and, with a pin,
// "-pin:<pin>". None of them holds a blank or a quote.
QStringList clientArguments(const FtpConnectionSettings& settings);
// Takes one client argument into settings; false when it is not one of the options above or its value is unknown.
bool applyClientArgument(const QString& argument, FtpConnectionSettings& settings);
