#pragma once

#include <QString>
#include <exception>

// An error that the design lets reach the application's error display: a message box with its text, after which
// the window stays usable. Raised only where that is the intended outcome (a refused settings write, a listing
// size that does not convert); everything else returns a result the caller must look at.
class AppError : public std::exception
{
public:
    explicit AppError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};
