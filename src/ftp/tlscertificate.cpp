#include "ftp/tlscertificate.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QHostAddress>

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>

struct CertificateWatch::State
{
    X509* leaf = nullptr;
    int verifyError = X509_V_OK;

    void clear()
    {
        X509_free(leaf);
        leaf = nullptr;
        verifyError = X509_V_OK;
    }
};

namespace {

QString nameText(const X509_NAME* name)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    const QString text = QString::fromUtf8(data, qsizetype(size));
    BIO_free(bio);
    return text;
}

QDateTime timeOf(const ASN1_TIME* time)
{
    std::tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

template <typename Encoder, typename Object> QByteArray derOf(Encoder encode, Object* object)
{
    const int size = encode(object, nullptr);
    if (size <= 0)
        return {};
    QByteArray der(size, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    encode(object, &out);
    return der;
}

bool matchesHost(X509* leaf, const QString& host)
{
    const QByteArray text = host.toUtf8();
    if (!QHostAddress(host).isNull())
        return X509_check_ip_asc(leaf, text.constData(), 0) == 1;
    return X509_check_host(leaf, text.constData(), size_t(text.size()), 0, nullptr) == 1;
}

FtpCertificate::Problem problemOf(int verifyError)
{
    switch (verifyError) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return FtpCertificate::Problem::SelfSigned;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return FtpCertificate::Problem::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return FtpCertificate::Problem::NotYetValid;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return FtpCertificate::Problem::UnknownIssuer;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return FtpCertificate::Problem::NameMismatch;
    default:
        return FtpCertificate::Problem::Other;
    }
}

// Runs the authorities' check as OpenSSL would and keeps its verdict and the server's own certificate.
int verifyAndRecord(X509_STORE_CTX* store, void* arg)
{
    auto* state = static_cast<CertificateWatch::State*>(arg);
    const int ok = X509_verify_cert(store);
    if (X509* leaf = X509_STORE_CTX_get0_cert(store)) {
        state->clear();
        state->leaf = X509_dup(leaf);
        state->verifyError = ok > 0 ? X509_V_OK : X509_STORE_CTX_get_error(store);
    }
    return ok;
}

} // namespace

QString certificateProblemText(FtpCertificate::Problem problem)
{
    switch (problem) {
    case FtpCertificate::Problem::None:
        return {};
    case FtpCertificate::Problem::UnknownIssuer:
        return QStringLiteral("この証明書は信頼された認証局によって発行されたものではありません。");
    case FtpCertificate::Problem::SelfSigned:
        return QStringLiteral("この証明書はサーバー自身が署名したもの（自己署名証明書）です。");
    case FtpCertificate::Problem::Expired:
        return QStringLiteral("この証明書は有効期限が切れています。");
    case FtpCertificate::Problem::NotYetValid:
        return QStringLiteral("この証明書はまだ有効になっていません。");
    case FtpCertificate::Problem::NameMismatch:
        return QStringLiteral("この証明書は接続先のサーバー名に対して発行されたものではありません。");
    case FtpCertificate::Problem::KeyChanged:
        return QStringLiteral("警告: サーバーの公開鍵が、信頼すると保存した公開鍵から変わっています。"
                              "サーバーが証明書を更新したか、別のサーバーが応答している可能性があります。");
    case FtpCertificate::Problem::Other:
        break;
    }
    return QStringLiteral("この証明書を確認できませんでした。");
}

CertificateWatch::CertificateWatch() : m_state(std::make_unique<State>()) {}

CertificateWatch::~CertificateWatch()
{
    m_state->clear();
}

void CertificateWatch::reset()
{
    m_state->clear();
}

bool CertificateWatch::sawHandshake() const
{
    return m_state->leaf != nullptr;
}

int CertificateWatch::contextHook(void*, void* sslContext, void* watch)
{
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), verifyAndRecord,
                                     static_cast<CertificateWatch*>(watch)->m_state.get());
    return 0; // CURLE_OK
}

FtpCertificate CertificateWatch::describe(const QString& host, bool keyChanged, const QString& expectedPin) const
{
    X509* leaf = m_state->leaf;
    if (!leaf)
        return {};
    FtpCertificate certificate;
    certificate.subject = nameText(X509_get_subject_name(leaf));
    certificate.issuer = nameText(X509_get_issuer_name(leaf));
    certificate.notBefore = timeOf(X509_get0_notBefore(leaf));
    certificate.notAfter = timeOf(X509_get0_notAfter(leaf));
    certificate.sha256Fingerprint = QString::fromLatin1(
        QCryptographicHash::hash(derOf(i2d_X509, leaf), QCryptographicHash::Sha256).toHex(':').toUpper());
    certificate.publicKeyPin =
        QStringLiteral("sha256//") +
        QString::fromLatin1(
            QCryptographicHash::hash(derOf(i2d_X509_PUBKEY, X509_get_X509_PUBKEY(leaf)), QCryptographicHash::Sha256)
                .toBase64());
    if (keyChanged) {
        certificate.problem = FtpCertificate::Problem::KeyChanged;
        certificate.expectedPin = expectedPin;
    } else if (m_state->verifyError != X509_V_OK) {
        certificate.problem = problemOf(m_state->verifyError);
    } else {
        certificate.problem =
            matchesHost(leaf, host) ? FtpCertificate::Problem::Other : FtpCertificate::Problem::NameMismatch;
    }
    return certificate;
}
