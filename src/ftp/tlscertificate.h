#pragma once

#include <QDateTime>
#include <QString>

#include <memory>

// The server certificate of a TLS connection, as the connect dialog shows it when the certificate could not be
// checked, and the watch that catches it during the handshake.
//
// Contract: CertificateWatch is owned by one connection handle and used on its thread; libcurl calls the hook
// during each TLS handshake of that handle (control and data connections). The watch never changes the outcome
// of a check: it records the server's first certificate and the verdict of the certificate authorities, and the
// connection fails or succeeds exactly as libcurl decides.
struct FtpCertificate
{
    enum class Problem
    {
        None,
        UnknownIssuer, // no chain to a trusted authority
        SelfSigned,
        Expired,
        NotYetValid,
        NameMismatch, // valid, but issued for another name
        KeyChanged,   // another key than the one the user chose to trust
        Other
    };

    Problem problem = Problem::None;
    QString subject;
    QString issuer;
    QDateTime notBefore;       // UTC
    QDateTime notAfter;        // UTC
    QString sha256Fingerprint; // of the whole certificate, "AB:CD:..."
    QString publicKeyPin;      // "sha256//<base64>" of its public key
    QString expectedPin;       // with KeyChanged: the pinned key that the server no longer shows

    bool isNull() const { return publicKeyPin.isEmpty(); }
};

// A sentence (Japanese) for the problem, for the certificate question.
QString certificateProblemText(FtpCertificate::Problem problem);

class CertificateWatch
{
public:
    CertificateWatch();
    ~CertificateWatch();
    CertificateWatch(const CertificateWatch&) = delete;
    CertificateWatch& operator=(const CertificateWatch&) = delete;

    // Forgets what an earlier handshake showed.
    void reset();
    // A handshake has shown a certificate since the last reset.
    bool sawHandshake() const;
    // Installs the watch on a TLS context that libcurl sets up (called by tlsConnectionHook, with this watch).
    static int contextHook(void* curl, void* sslContext, void* watch);

    // The certificate of the last handshake, with the problem that failed the check: the authorities' verdict
    // first, then the name (host is the server name or address the connection was made to). keyChanged names
    // the pin that was expected instead. Null when no handshake showed a certificate.
    FtpCertificate describe(const QString& host, bool keyChanged, const QString& expectedPin) const;

    struct State; // what the hook recorded (OpenSSL objects stay out of this header)

private:
    std::unique_ptr<State> m_state;
};
