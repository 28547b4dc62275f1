// Deletes one published folder through the real program: the main window connects through its dialog, a click on
// the folder's tree node lists it as a user's click does, and the tree's "ディレクトリ削除(&D)" deletes it with
// everything below it. Prints what the click cost on the control connections (client round trips and new
// connections, as the delay proxy counted them) and the time from the command to the end message. Run through
// bench/run.sh.
#include "app/application.h"
#include "app/tform1.h"
#include "connectdialog.h"
#include "connectedwindow.h"
#include "dialogs/tform2.h"
#include "endwatch.h"
#include "settle.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <utility>

namespace {

// The proxy's counts once they have stopped changing for 300 ms (three seconds at most): the connect test's
// goodbye and the first listing's last reply may still be on their way.
QList<QByteArray> settledCounts(const QString& file)
{
    QByteArray last;
    QElapsedTimer quiet;
    quiet.start();
    QDeadlineTimer deadline(3000);
    while (quiet.elapsed() < 300 && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
        QFile stats(file);
        const QByteArray now = stats.open(QIODevice::ReadOnly) ? stats.readAll().trimmed() : QByteArray();
        if (now != last) {
            last = now;
            quiet.restart();
        }
    }
    return last.split(' ');
}

} // namespace

int main(int argc, char* argv[])
{
    PelnoApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 5) {
        std::fprintf(stderr, "usage: pelno_deletebench <host:port> <user> <password> <folder> [--proxy-stats FILE]\n");
        return 2;
    }
    TForm1 form;
    TForm2 dialog(form.state().credentials, &form);
    form.setConnectDialog(&dialog);
    Settle settle(form);
    form.show();
    connectLikeAUser(form, args[1], args[2], args[3]);
    if (form.currentLayout() != MainWindowPort::Layout::Browser)
        return 1;
    QTreeWidgetItem* node = nodeNamed(form.tree(), args[4]);
    if (!node) {
        std::fprintf(stderr, "no folder %s in the root\n", qPrintable(args[4]));
        return 1;
    }
    settle.wait();

    const qsizetype statsAt = args.indexOf(QStringLiteral("--proxy-stats"));
    // Direct runs have no proxy and so no counts.
    QString statsFile = statsAt > 0 && statsAt + 1 < args.size() ? args[statsAt + 1] : QString();
    if (!QFile::exists(statsFile))
        statsFile.clear();
    const QList<QByteArray> before = statsFile.isEmpty() ? QList<QByteArray>() : settledCounts(statsFile);
    QElapsedTimer clock;
    clock.start();
    clickNode(form.tree(), node);
    QDeadlineTimer deadline(30000);
    while ((form.tree()->currentItem() != node || form.state().BusyLock) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double clickSeconds = clock.nsecsElapsed() / 1e9;
    if (!statsFile.isEmpty()) {
        const QList<QByteArray> after = settledCounts(statsFile);
        std::printf("click %.3f s, %d client round trips, %d new control connections\n", clickSeconds,
                    after.value(1).toInt() - before.value(1).toInt(), after.value(4).toInt() - before.value(4).toInt());
    } else {
        std::printf("click %.3f s\n", clickSeconds);
    }

    // The deletion ends with one modal window, the end message; the time is taken when it is shown.
    QEventLoop loop;
    double seconds = 0;
    QString message;
    EndWatch watch([&](QWidget* modal) {
        seconds = clock.nsecsElapsed() / 1e9;
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            message = box->text();
        QTimer::singleShot(0, modal, [&, modal] {
            modal->close();
            loop.quit();
        });
    });
    app.installEventFilter(&watch);
    clock.restart();
    if (!triggerAction(form, "D1"))
        return 1;
    if (seconds == 0)
        loop.exec();
    app.removeEventFilter(&watch);
    std::printf("pelno %.2f s, %d failed, %s\n", seconds, int(form.state().FailedList.size()), qPrintable(message));
    form.close();
    return form.state().FailedList.isEmpty() ? 0 : 1;
}
