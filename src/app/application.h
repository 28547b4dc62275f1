#pragma once

#include <QApplication>

// The application object: an error that no handler catches reaches the user as a message box with its text, and
// the window stays usable.
class PelnoApplication : public QApplication
{
    Q_OBJECT
public:
    PelnoApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The entry point: application, title, main window, connect dialog, message loop.
int runPelno(int argc, char* argv[]);
