#pragma once

#include <QString>

class QWidget;

// The application's title, the caption of every message box.
inline constexpr const char* kApplicationTitle = "PELNO2.0";

// Tells the user an outcome: a modal box with the one text and a single OK button, captioned with the
// application's title and centred on the screen. Returns when the user has pressed OK. Main thread only.
void showMessage(QWidget* parent, const QString& text);
