#include "dialogs/hostkeydialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* valueLabel(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText); // the server chose the key
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

} // namespace

HostKeyDialog::HostKeyDialog(const QString& server, const SshHostKey& key, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("サーバーの鍵の確認"));
    auto* layout = new QVBoxLayout(this);
    QLabel* reason =
        valueLabel(key.changed() ? QStringLiteral("サーバーの鍵が、信頼済みの鍵と異なります。接続を横取りされている"
                                                  "おそれがあります。鍵を変えたことをサーバーの管理者に確かめる"
                                                  "までは、信頼しないでください。")
                                 : QStringLiteral("このサーバーに接続するのは初めてです。"),
                   QStringLiteral("reasonLabel"), this);
    if (key.changed())
        reason->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    layout->addWidget(reason);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("サーバー"), valueLabel(server, QStringLiteral("serverLabel"), this));
    form->addRow(QStringLiteral("鍵の種類"), valueLabel(QStringLiteral("%1 (%2 ビット)").arg(key.type).arg(key.bits),
                                                        QStringLiteral("typeLabel"), this));
    form->addRow(key.changed() ? QStringLiteral("新しい鍵の指紋") : QStringLiteral("鍵の指紋"),
                 valueLabel(key.text(), QStringLiteral("fingerprintLabel"), this));
    if (key.changed())
        form->addRow(QStringLiteral("信頼済みの鍵の指紋"),
                     valueLabel(key.trusted, QStringLiteral("trustedLabel"), this));
    layout->addLayout(form);
    layout->addWidget(
        valueLabel(QStringLiteral("このサーバーの鍵を信頼して接続しますか？"), QStringLiteral("questionLabel"), this));

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
