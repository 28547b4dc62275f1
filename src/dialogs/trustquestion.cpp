#include "dialogs/trustquestion.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

QLabel* trustValueLabel(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText); // the server chose these texts
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

TrustButtons addTrustButtons(QDialog& dialog, QBoxLayout& layout)
{
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    TrustButtons made{new QPushButton(QStringLiteral("信頼する"), &dialog),
                      new QPushButton(QStringLiteral("信頼しない"), &dialog)};
    made.trust->setAutoDefault(false);
    made.distrust->setDefault(true);
    buttons->addWidget(made.trust);
    buttons->addWidget(made.distrust);
    layout.addLayout(buttons);

    QObject::connect(made.trust, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(made.distrust, &QPushButton::clicked, &dialog, &QDialog::reject);
    dialog.setMinimumWidth(480);
    made.distrust->setFocus();
    return made;
}
