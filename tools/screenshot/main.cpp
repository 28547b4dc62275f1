// Draws the README's pictures of the main window: the start layout, and the browser layout after connecting to a
// local demo server with a small sample site. Run through tools/screenshot.sh.
#include "app/application.h"
#include "app/tform1.h"
#include "browse/remotebrowser.h"
#include "connectdialog.h"
#include "ftp/tform2.h"
#include "ftpserverfixture.h"
#include "modal.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdio>

namespace {
void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool save(QWidget& window, const QString& path)
{
    settle(1500);
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
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
    form.close();
    return ok ? 0 : 1;
}
