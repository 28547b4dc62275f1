#pragma once

#include <QString>
#include <functional>

class QWidget;

// Answers modal windows the way a user would: waits until a modal widget is active, then acts on it.

// Waits (processing events) up to timeoutMs for an active modal widget; nullptr when none appeared.
QWidget* waitForModal(int timeoutMs = 10000);

// Arms a one-shot answer: as soon as a modal widget is active, action runs on it (from the event loop). Use it
// before the call that opens the modal window and blocks.
void whenModal(std::function<void(QWidget*)> action, int timeoutMs = 20000);

// Text of a modal message box, or of any label in the widget.
QString modalText(QWidget* modal);

// Presses the button with the given text (or the first button when text is empty).
bool pressButton(QWidget* modal, const QString& text = QString());
