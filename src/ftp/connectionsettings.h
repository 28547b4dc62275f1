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

// The protocol of a profile. SFTP has no data connections and no TLS: the settings for those are kept but unused.
enum class TransferProtocol
{
    Ftp,
    Sftp
};

struct FtpConnectionSettings
{
    DataConnectionMode dataConnection = DataConnectionMode::Automatic;
    TlsMode tls = TlsMode::WhenOffered;
    // "sha256//<base64>" of the public key the user chose to trust for this server; empty when none. With a key
    // pinned, that key is accepted and every other one refused, whatever the certificate authorities say.
    QString pinnedKey;
    TransferProtocol protocol = TransferProtocol::Ftp;
    // SFTP: "SHA256:<base64 without padding>" of the host key the user chose to trust (as `ssh-keygen -l` prints
    // it); empty when none, and then no connection is made until the user trusts the key the server shows.
    QString hostKey = {};
    // SFTP: a private key file to log in with (ed25519 or ECDSA), and its passphrase (empty: none). Without a key
    // file the password is used, and the agent when SSH_AUTH_SOCK names one.
    QString keyFile = {};
    QString keyPassphrase = {};

    bool operator==(const FtpConnectionSettings&) const = default;
};

QString dataConnectionText(DataConnectionMode mode); // "auto", "active", "passive"
DataConnectionMode dataConnectionFromText(const QString& text);
QString tlsText(TlsMode mode); // "offered", "required", "none"
TlsMode tlsFromText(const QString& text);

QString protocolText(TransferProtocol protocol); // "ftp", "sftp"
TransferProtocol protocolFromText(const QString& text);
// The port a server without ":port" is reached on: 21 for FTP, 22 for SFTP.
quint16 defaultPort(TransferProtocol protocol);

// A trusted host key is "SHA256:" followed by the unpadded base64 of 32 bytes; anything else is none.
bool isHostKeyText(const QString& text);

// A pin is "sha256//" followed by the base64 of 32 bytes; anything else is no pin.
bool isPinnedKeyText(const QString& text);

// The options of our `ftp` client that carry the settings: "-data:<mode>", "-tls:<mode>" and, with a pin,
// "-pin:<pin>". None of them holds a blank or a quote. For SFTP also "-protocol:sftp", with a trusted host key
// "-hostkey:SHA256:<fingerprint>" and with a key file "-key:<path>" (in double quotes; a path that holds a double
// quote or a line break is left out, and the login then goes without the key). The passphrase is never an
// argument: the runner hands it over in the environment (keyPassphraseVariable).
QStringList clientArguments(const FtpConnectionSettings& settings);
// Takes one client argument into settings; false when it is not one of the options above or its value is unknown.
bool applyClientArgument(const QString& argument, FtpConnectionSettings& settings);
// The environment variable through which our client receives the key's passphrase.
inline constexpr char keyPassphraseVariable[] = "PELNO_KEY_PASSPHRASE";
