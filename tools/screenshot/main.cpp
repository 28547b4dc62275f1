// Draws the README's pictures of the main window: the start layout, the browser layout after connecting to a
// local demo server with a small sample site, and the progress layout while a drop of many files uploads. Run
// through tools/screenshot.sh.
#include "app/application.h"
#include "app/tform1.h"
#include "browse/remotebrowser.h"
#include "connectdialog.h"
#include "dialogs/tform2.h"
#include "ftpserverfixture.h"
#include "modal.h"

#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>

#include <cstdio>

namespace {
void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool save(QWidget& window, const QString& path, int settleMs = 1500)
{
    settle(settleMs);
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

// A folder of many small pages, enough for the upload to take a few seconds.
bool writeSampleFolder(const QString& folder)
{
    const QByteArray page = QByteArray("<p>PELNO</p>\n").repeated(2000);
    for (int i = 0; i < 3000; ++i) {
        const QString path = QStringLiteral("%1/blog/%2/entry%3.html").arg(folder).arg(i % 30).arg(i);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(page) != page.size())
            return false;
    }
    return true;
}

// Drops local paths on a widget the way the desktop does.
void drop(QWidget* target, const QString& path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent dropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropEvent);
}
} // namespace

int main(int argc, char* argv[])
{
    PelnoApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: pelno_screenshot <demo-site script> <output folder>\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[2]);

    FtpServerFixture server;
    if (QProcess::execute(QString::fromLocal8Bit(argv[1]), {server.root()}) != 0 || !server.start())
        return 1;

    TForm1 form;
    TForm2 dialog(form.state().credentials, &form);
    form.setConnectDialog(&dialog);
    form.show();
    bool ok = save(form, outDir + QStringLiteral("/start.png"));

    connectLikeAUser(form, server.host(), FtpServerFixture::user(), FtpServerFixture::password(),
                     QStringLiteral("demo"));
    const auto nodes = form.tree()->findItems(QStringLiteral("www"), Qt::MatchExactly);
    if (!nodes.isEmpty())
        form.tree()->setCurrentItem(nodes.first());
    ok = save(form, outDir + QStringLiteral("/browser.png")) && ok;

    QTemporaryDir local;
    const QString folder = local.path() + QStringLiteral("/blog");
    if (!writeSampleFolder(local.path()))
        return 1;
    // The end message is confirmed as a user would, once the picture is taken.
    whenModal([](QWidget* modal) { pressButton(modal); }, 600000);
    drop(form.tree()->viewport(), folder);
    // Long enough for the rate and the time left to show.
    ok = save(form, outDir + QStringLiteral("/progress.png"), 3500) && ok;
    while (form.currentLayout() != MainWindowPort::Layout::Browser)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    form.close();
    return ok ? 0 : 1;
}
