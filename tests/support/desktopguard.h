#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// Keeps test programs off the developer's desktop.
//
// Every test program (pelno_add_test) routes the desktop's "open this address" (QDesktopServices::openUrl for
// http, https, file and mailto) to a recorder from the moment its application object exists, so a link the
// program opens never starts a real browser. openedAddresses() lists what was opened, in order.
QStringList openedAddresses();
void clearOpenedAddresses();

// While it lives, the program's messages (showMessage) are recorded instead of shown as modal boxes; the box
// comes back when it goes. Main thread only.
class MessageLog
{
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    const QStringList& messages() const { return m_messages; }

private:
    QStringList m_messages;
    std::function<void(QWidget*, const QString&)> m_previous;
};
