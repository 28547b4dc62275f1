#pragma once

#include <QString>
#include <QTimer>
#include <functional>

class QWidget;

// Answers modal windows the way a user would: waits until a modal widget is active, then acts on it. Every way
// the tests answer a message box, an input dialog or the failure report goes through here.

// Waits (processing events) up to timeoutMs for an active modal widget; nullptr when none appeared.
QWidget* waitForModal(int timeoutMs = 10000);

// Arms a one-shot answer: as soon as a modal widget is active, action runs on it (from the event loop). Use it
// before the call that opens the modal window and blocks.
void whenModal(std::function<void(QWidget*)> action, int timeoutMs = 20000);

// Arms the answer to the next modal window the way a user reads and dismisses it: its text (modalText) lands in
// *seen, its window title in *title when given; a window with buttons is confirmed with its first one, one
// without (the failure report) is closed.
void answerNext(QString* seen, QString* title = nullptr, int timeoutMs = 120000);

// Text of a modal message box; of the window's text field (the failure report's list); else of its labels.
QString modalText(QWidget* modal);

// Presses the button with the given text (or the first button when text is empty).
bool pressButton(QWidget* modal, const QString& text = QString());

// Answers every modal window that is active while it runs, for a test that cannot tell how many will open or
// when. action is called from the event loop for each; a window it leaves open is offered again.
class ModalAnswerer
{
public:
    explicit ModalAnswerer(std::function<void(QWidget*)> action, bool running = true);
    ModalAnswerer(const ModalAnswerer&) = delete;
    ModalAnswerer& operator=(const ModalAnswerer&) = delete;

    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }

private:
    QTimer m_timer;
};
