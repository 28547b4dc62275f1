#include "testcertificates.h"

#include <QFile>
#include <QProcess>

namespace {
const QStringList KeyType = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
}

TestCertificates::TestCertificates()
{
    const QString certificate = m_dir.filePath(QStringLiteral("authority.pem"));
    const QString key = m_dir.filePath(QStringLiteral("authority.key"));
    if (run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + KeyType +
            QStringList{QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate, QStringLiteral("-days"),
                        QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=PELNO Test Authority")}))
        m_authority = {certificate, key};
}

bool TestCertificates::run(const QStringList& arguments) const
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    openssl.start(QStringLiteral("openssl"), arguments);
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
}

TestCertificates::Pair TestCertificates::signedByAuthority(const QString& name, const QString& altName)
{
    if (!m_authority.isValid())
        return {};
    const QString stem = m_dir.filePath(QStringLiteral("signed%1").arg(++m_counter));
    const QString extensions = stem + QStringLiteral(".ext");
    QFile ext(extensions);
    if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=" + altName.toUtf8() + "\n") < 0)
        return {};
    ext.close();
    if (!run(QStringList{QStringLiteral("req")} + KeyType +
             QStringList{QStringLiteral("-keyout"), stem + QStringLiteral(".key"), QStringLiteral("-out"),
                         stem + QStringLiteral(".csr"), QStringLiteral("-subj"), QStringLiteral("/CN=") + name}))
        return {};
    if (!run({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), stem + QStringLiteral(".csr"),
              QStringLiteral("-CA"), m_authority.certificate, QStringLiteral("-CAkey"), m_authority.key,
              QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), stem + QStringLiteral(".pem"),
              QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"), extensions}))
        return {};
    return {stem + QStringLiteral(".pem"), stem + QStringLiteral(".key")};
}

TestCertificates::Pair TestCertificates::selfSigned(const QString& name, const QString& altName)
{
    const QString stem = m_dir.filePath(QStringLiteral("self%1").arg(++m_counter));
    if (!run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + KeyType +
             QStringList{QStringLiteral("-keyout"), stem + QStringLiteral(".key"), QStringLiteral("-out"),
                         stem + QStringLiteral(".pem"), QStringLiteral("-days"), QStringLiteral("2"),
                         QStringLiteral("-subj"), QStringLiteral("/CN=") + name, QStringLiteral("-addext"),
                         QStringLiteral("subjectAltName=") + altName}))
        return {};
    return {stem + QStringLiteral(".pem"), stem + QStringLiteral(".key")};
}

QString TestCertificates::fingerprint(const QString& certificate)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("x509"), QStringLiteral("-in"), certificate, QStringLiteral("-noout"),
                   QStringLiteral("-fingerprint"), QStringLiteral("-sha256")});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return {};
    const QString text = QString::fromLatin1(openssl.readAllStandardOutput()).trimmed();
    return text.section(QLatin1Char('='), 1);
}
