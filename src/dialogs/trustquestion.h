#pragma once

#include <QString>

class QBoxLayout;
class QDialog;
class QLabel;
class QPushButton;
class QWidget;

// What the certificate question and the host key question share. Contract: main thread, while the dialog is built.

// A label that shows a text the server chose exactly as it is (plain text, selectable, wrapped), named for tests.
QLabel* trustValueLabel(const QString& text, const QString& name, QWidget* parent);

struct TrustButtons
{
    QPushButton* trust = nullptr;
    QPushButton* distrust = nullptr;
};

// Adds "信頼する" and "信頼しない" at the end of layout, wired to accept and reject. "信頼しない" is the default and
// has the focus, so Enter or a hasty click never trusts a key by itself.
TrustButtons addTrustButtons(QDialog& dialog, QBoxLayout& layout);
