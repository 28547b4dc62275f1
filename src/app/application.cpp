#include "app/application.h"

#include "app/tform1.h"
#include "dialogs/messagebox.h"
#include "dialogs/tform2.h"
#include "settings/apperror.h"

#include <QIcon>
#include <QScreen>

PelnoApplication::PelnoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool PelnoApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const AppError& error) {
        showMessage(activeWindow(), error.message());
    } catch (const std::exception& error) {
        showMessage(activeWindow(), QString::fromUtf8(error.what()));
    }
    return false;
}

int runPelno(int argc, char* argv[])
{
    PelnoApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    // the installed desktop entry and its icon (desktop/), so the desktop groups the window under them
    QGuiApplication::setDesktopFileName(QStringLiteral("pelno"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("pelno")));
    TForm1 form;
    TForm2 dialog(form.state().credentials, &form);
    form.setConnectDialog(&dialog);
    form.move(form.screen()->availableGeometry().center() - form.rect().center());
    form.show();
    return app.exec();
}
