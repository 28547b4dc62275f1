#include "dialogs/certificatedialog.h"

#include "dialogs/trustquestion.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString dateText(const QDateTime& time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss 'UTC'")) : QStringLiteral("?");
}

} // namespace

CertificateDialog::CertificateDialog(const FtpCertificate& certificate, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("証明書の確認"));
    const bool changed = certificate.problem == FtpCertificate::Problem::KeyChanged;

    auto* layout = new QVBoxLayout(this);
    QLabel* reason = trustValueLabel(certificateProblemText(certificate.problem), QStringLiteral("reasonLabel"), this);
    if (changed)
        reason->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    layout->addWidget(reason);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("発行先"), trustValueLabel(certificate.subject, QStringLiteral("subjectLabel"), this));
    form->addRow(QStringLiteral("発行者"), trustValueLabel(certificate.issuer, QStringLiteral("issuerLabel"), this));
    form->addRow(QStringLiteral("有効期間"),
                 trustValueLabel(dateText(certificate.notBefore) + QStringLiteral(" から ") +
                                     dateText(certificate.notAfter) + QStringLiteral(" まで"),
                                 QStringLiteral("validityLabel"), this));
    form->addRow(QStringLiteral("SHA-256 指紋"),
                 trustValueLabel(certificate.sha256Fingerprint, QStringLiteral("fingerprintLabel"), this));
    form->addRow(changed ? QStringLiteral("新しい公開鍵") : QStringLiteral("公開鍵"),
                 trustValueLabel(certificate.publicKeyPin, QStringLiteral("keyLabel"), this));
    if (changed)
        form->addRow(QStringLiteral("保存済みの公開鍵"),
                     trustValueLabel(certificate.expectedPin, QStringLiteral("expectedKeyLabel"), this));
    layout->addLayout(form);

    layout->addWidget(trustValueLabel(changed ? QStringLiteral("新しい公開鍵を信頼して接続しますか？")
                                              : QStringLiteral("この証明書を信頼して接続しますか？"),
                                      QStringLiteral("questionLabel"), this));

    const TrustButtons buttons = addTrustButtons(*this, *layout);
    m_trust = buttons.trust;
    m_distrust = buttons.distrust;
}
