#include "dialogs/messagebox.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

namespace {

MessageHandler& installedHandler()
{
    static MessageHandler handler;
    return handler;
}

} // namespace

void showMessage(QWidget* parent, const QString& text)
{
    if (const MessageHandler& handler = installedHandler()) {
        handler(parent, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), text, QMessageBox::Ok, parent);
    box.adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        box.move(area.center() - QPoint(box.width() / 2, box.height() / 2));
    }
    box.exec();
}

MessageHandler setMessageHandler(MessageHandler handler)
{
    return std::exchange(installedHandler(), std::move(handler));
}
