#include "uploadsession.h"

#include "settings/appfolders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRadioButton>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

UploadSession::UploadSession()
{
    // A reader that has gone when a test writes into a FIFO must not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/AppConfig.ini"));
    // Nor with a record of what an earlier session published (a new server may get an old one's port).
    const QDir data(AppFolders::current().dataDirectory);
    for (const QString& name : data.entryList({QStringLiteral("published-*.json")}, QDir::Files))
        QFile::remove(data.filePath(name));
}

UploadSession::~UploadSession()
{
    QDirIterator it(local.path(), QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileInfo().isFile() || it.fileInfo().isDir())
            continue;
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
}

bool connectSession(UploadSession& s, const FtpServerFixture::Options& options)
{
    if (!s.local.isValid()) {
        QTest::qFail("no local folder", __FILE__, __LINE__);
        return false;
    }
    if (!connectSession(static_cast<ConnectedWindow&>(s), options))
        return false;
    s.server.clearLog();
    return true;
}

void chooseMode(TForm1& form, const QString& caption)
{
    QRadioButton* button = modeButton(form, caption);
    QVERIFY2(button, qPrintable(caption));
    button->click();
}

void chooseEncoding(TForm1& form, bool convert, const QString& charset)
{
    auto* box = form.findChild<QCheckBox*>(QStringLiteral("CheckBox1"));
    auto* list = form.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
    QVERIFY(box && list);
    if (box->isChecked() != convert)
        box->click();
    if (!charset.isEmpty())
        list->setCurrentIndex(list->findText(charset));
}

QStringList sortedLines(const QString& text)
{
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.sort();
    return lines;
}

QByteArray storedAsText(const QByteArray& bytes)
{
    return QByteArray(bytes).replace("\r\n", "\n");
}
