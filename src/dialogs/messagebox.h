#pragma once

#include <QString>

#include <functional>

class QWidget;

// The application's title, the caption of every message box.
inline constexpr const char* kApplicationTitle = "PELNO2.0";

// Tells the user an outcome: a modal box with the one text and a single OK button, captioned with the
// application's title and centred on the screen. Returns when the user has pressed OK. Main thread only.
void showMessage(QWidget* parent, const QString& text);

// Who tells the user: by default the modal box above. A host that must not stop on a modal window (a test
// program, a tool that drives the window unattended) installs its own; an empty handler restores the box.
// Returns the handler it replaces. Main thread only.
using MessageHandler = std::function<void(QWidget* parent, const QString& text)>;
MessageHandler setMessageHandler(MessageHandler handler);
