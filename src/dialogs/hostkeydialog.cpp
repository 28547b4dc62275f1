#include "dialogs/hostkeydialog.h"

#include "dialogs/trustquestion.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

HostKeyDialog::HostKeyDialog(const QString& server, const SshHostKey& key, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("サーバーの鍵の確認"));
    auto* layout = new QVBoxLayout(this);
    QLabel* reason = trustValueLabel(
        key.changed() ? QStringLiteral("サーバーの鍵が、信頼済みの鍵と異なります。接続を横取りされている"
                                       "おそれがあります。鍵を変えたことをサーバーの管理者に確かめる"
                                       "までは、信頼しないでください。")
                      : QStringLiteral("このサーバーに接続するのは初めてです。"),
        QStringLiteral("reasonLabel"), this);
    if (key.changed())
        reason->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    layout->addWidget(reason);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("サーバー"), trustValueLabel(server, QStringLiteral("serverLabel"), this));
    form->addRow(QStringLiteral("鍵の種類"),
                 trustValueLabel(QStringLiteral("%1 (%2 ビット)").arg(key.type).arg(key.bits),
                                 QStringLiteral("typeLabel"), this));
    form->addRow(key.changed() ? QStringLiteral("新しい鍵の指紋") : QStringLiteral("鍵の指紋"),
                 trustValueLabel(key.text(), QStringLiteral("fingerprintLabel"), this));
    if (key.changed())
        form->addRow(QStringLiteral("信頼済みの鍵の指紋"),
                     trustValueLabel(key.trusted, QStringLiteral("trustedLabel"), this));
    layout->addLayout(form);
    layout->addWidget(trustValueLabel(QStringLiteral("このサーバーの鍵を信頼して接続しますか？"),
                                      QStringLiteral("questionLabel"), this));

    const TrustButtons buttons = addTrustButtons(*this, *layout);
    m_trust = buttons.trust;
    m_distrust = buttons.distrust;
}
