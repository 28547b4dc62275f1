#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What SFTP connections need to know about SSH keys: a server's host key as the user is shown it, the kind of a
// private key file, and which host key algorithms a server offers.
//
// Contract: plain functions, callable on any thread; only sshHostKeyAlgorithms does I/O (one connection of its
// own, bounded by its time-out).

// A server's host key as `ssh-keygen -l` shows it: "256 SHA256:<fingerprint> (ED25519)".
struct SshHostKey
{
    QString type;        // "ED25519", "ECDSA", "RSA", "DSA", or the key's own name when it is none of these
    int bits = 0;        // 0 when unknown
    QString fingerprint; // "SHA256:" and the unpadded base64 of the SHA-256 of the key
    // After a refused connect: the fingerprint the profile trusts when the server showed another key; empty when
    // the profile trusted none yet.
    QString trusted;

    bool isNull() const { return fingerprint.isEmpty(); }
    bool changed() const { return !trusted.isEmpty(); }
    QString text() const; // "256 SHA256:... (ED25519)"
};

// The key as the server sends it (the SSH wire form: its algorithm name, then its parts).
SshHostKey describeSshHostKey(const QByteArray& keyBlob);
QString sshFingerprint(const QByteArray& keyBlob);

// The algorithm name of a private key file ("ssh-ed25519", "ssh-rsa", "ecdsa-sha2-nistp256", ...), read from the
// OpenSSH format's public part (readable without the passphrase) or the PEM header; empty when the file cannot be
// read or is of another form.
QString sshPrivateKeyType(const QString& path);

// The server_host_key_algorithms of the server's first key exchange message, read over a connection of its own
// (which then ends); nullopt when the server closed the connection or said nothing SSH within timeoutMs.
std::optional<QStringList> sshHostKeyAlgorithms(const QString& host, quint16 port, int timeoutMs);

// Whether the host key algorithms include one that libssh2 1.10 can check: ed25519 or ECDSA (an RSA host key it
// can only check with SHA-1 signatures, which current OpenSSH no longer makes).
bool sshHostKeyUsable(const QStringList& algorithms);
