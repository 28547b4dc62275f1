#pragma once

#include <QString>
#include <QTemporaryDir>

// Certificates for the TLS tests, made afresh by the `openssl` command in a temporary folder: a test authority,
// and server certificates for 127.0.0.1 signed by it or by themselves.
//
// Contract (test main thread): every function returns an empty path (or text) when openssl failed. Nothing is
// trusted by itself: a test trusts the authority by pointing SSL_CERT_FILE at authority().
class TestCertificates
{
public:
    struct Pair
    {
        QString certificate;
        QString key;
        bool isValid() const { return !certificate.isEmpty(); }
    };

    TestCertificates();

    QString authority() const { return m_authority.certificate; }
    // A server certificate signed by the authority, for the given subjectAltName ("IP:127.0.0.1", "DNS:x").
    Pair signedByAuthority(const QString& name, const QString& altName);
    // A self-signed server certificate with a key of its own (a new key on every call).
    Pair selfSigned(const QString& name, const QString& altName = QStringLiteral("IP:127.0.0.1"));

    // "AB:CD:..." as openssl prints the SHA-256 fingerprint of the certificate.
    static QString fingerprint(const QString& certificate);

private:
    bool run(const QStringList& arguments) const;

    QTemporaryDir m_dir;
    Pair m_authority;
    int m_counter = 0;
};
