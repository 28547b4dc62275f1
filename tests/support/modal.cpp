#include "modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>

QWidget* waitForModal(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible())
            return modal;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return nullptr;
}

void whenModal(std::function<void(QWidget*)> action, int timeoutMs)
{
    auto* timer = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, [timer, action, deadline] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        } else if (deadline->hasExpired()) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
}

void answerNext(QString* seen, QString* title, int timeoutMs)
{
    whenModal(
        [seen, title](QWidget* modal) {
            if (title)
                *title = modal->windowTitle();
            *seen = modalText(modal);
            if (!pressButton(modal))
                modal->close();
        },
        timeoutMs);
}

QString modalText(QWidget* modal)
{
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        return box->text();
    if (auto* field = modal->findChild<QPlainTextEdit*>())
        return field->toPlainText();
    QStringList texts;
    for (auto* label : modal->findChildren<QLabel*>())
        texts << label->text();
    return texts.join('\n');
}

bool pressButton(QWidget* modal, const QString& text)
{
    for (auto* button : modal->findChildren<QAbstractButton*>()) {
        if (text.isEmpty() || button->text() == text) {
            button->click();
            return true;
        }
    }
    return false;
}

ModalAnswerer::ModalAnswerer(std::function<void(QWidget*)> action, bool running)
{
    QObject::connect(&m_timer, &QTimer::timeout, [action = std::move(action)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible())
            action(modal);
    });
    m_timer.setInterval(20);
    if (running)
        m_timer.start();
}
