#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

#include <functional>
#include <utility>

// What the benchmark drivers stop their clock on: the first modal window shown (the end message of an upload or a
// deletion). Installed on the application; calls back once.
class EndWatch : public QObject
{
public:
    explicit EndWatch(std::function<void(QWidget*)> shown) : m_shown(std::move(shown)) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && m_shown) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && widget->isWindow() && widget->isModal())
                std::exchange(m_shown, nullptr)(widget);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(QWidget*)> m_shown;
};
