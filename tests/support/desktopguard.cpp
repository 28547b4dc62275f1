#include "desktopguard.h"

#include "dialogs/messagebox.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace {

class AddressRecorder : public QObject
{
    Q_OBJECT
public:
    QStringList addresses;

public slots:
    void open(const QUrl& url) { addresses << url.toString(); }
};

AddressRecorder* recorder()
{
    static AddressRecorder* instance = new AddressRecorder; // lives as long as the program: the registry keeps it
    return instance;
}

void installRecorder()
{
    for (const char* scheme : {"http", "https", "file", "mailto"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), recorder(), "open");
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installRecorder)

QStringList openedAddresses()
{
    return recorder()->addresses;
}

void clearOpenedAddresses()
{
    recorder()->addresses.clear();
}

MessageLog::MessageLog() : m_previous(setMessageHandler([this](QWidget*, const QString& text) { m_messages << text; }))
{}

MessageLog::~MessageLog()
{
    setMessageHandler(std::move(m_previous));
}

#include "desktopguard.moc"
