#include "dialogs/certificatedialog.h"

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

QLabel* valueLabel(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText); // the server chose these texts
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

} // namespace

CertificateDialog::CertificateDialog(const FtpCertificate& certificate, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("証明書の確認"));
    const bool changed = certificate.problem == FtpCertificate::Problem::KeyChanged;

    auto* layout = new QVBoxLayout(this);
    QLabel* reason = valueLabel(certificateProblemText(certificate.problem), QStringLiteral("reasonLabel"), this);
    if (changed)
        reason->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    layout->addWidget(reason);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("発行先"), valueLabel(certificate.subject, QStringLiteral("subjectLabel"), this));
    form->addRow(QStringLiteral("発行者"), valueLabel(certificate.issuer, QStringLiteral("issuerLabel"), this));
    form->addRow(QStringLiteral("有効期間"), valueLabel(dateText(certificate.notBefore) + QStringLiteral(" から ") +
                                                            dateText(certificate.notAfter) + QStringLiteral(" まで"),
                                                        QStringLiteral("validityLabel"), this));
    form->addRow(QStringLiteral("SHA-256 指紋"),
                 valueLabel(certificate.sha256Fingerprint, QStringLiteral("fingerprintLabel"), this));
    form->addRow(changed ? QStringLiteral("新しい公開鍵") : QStringLiteral("公開鍵"),
                 valueLabel(certificate.publicKeyPin, QStringLiteral("keyLabel"), this));
    if (changed)
        form->addRow(QStringLiteral("保存済みの公開鍵"),
                     valueLabel(certificate.expectedPin, QStringLiteral("expectedKeyLabel"), this));
    layout->addLayout(form);

    layout->addWidget(valueLabel(changed ? QStringLiteral("新しい公開鍵を信頼して接続しますか？")
                                         : QStringLiteral("この証明書を信頼して接続しますか？"),
                                 QStringLiteral("questionLabel"), this));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_trust = new QPushButton(QStringLiteral("信頼する"), this);
    m_distrust = new QPushButton(QStringLiteral("信頼しない"), this);
    m_trust->setAutoDefault(false);
    m_distrust->setDefault(true);
    buttons->addWidget(m_trust);
    buttons->addWidget(m_distrust);
    layout->addLayout(buttons);

    connect(m_trust, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_distrust, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(480);
    m_distrust->setFocus();
}
