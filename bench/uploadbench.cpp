// Uploads one dropped folder through the real program: the main window connects through its dialog, a drop of
// the folder on the tree starts the upload workers exactly as a user's drop does, and the time from the drop to
// the completion message is printed. Run through bench/run.sh.
//
// --changed-only checks "変更分のみ送信" (and unchecks it without), and the counters of the progress layout are
// printed at the end: sent and unchanged. --seed-record N first writes a publish record of N entries for this
// server and user (names that the drop does not have), so that the memory such a record costs shows in the peak.
#include "app/application.h"
#include "app/tform1.h"
#include "connectdialog.h"
#include "connectedwindow.h"
#include "dialogs/hostkeydialog.h"
#include "dialogs/tform2.h"
#include "endwatch.h"
#include "ftp/profiles.h"
#include "modal.h"
#include "settings/appconfig.h"
#include "settings/appfolders.h"
#include "settle.h"
#include "transfer/publishrecord.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <utility>

int main(int argc, char* argv[])
{
    PelnoApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 5) {
        std::fprintf(stderr,
                     "usage: pelno_uploadbench <folder> <host:port | sftp://host:port> <user> <password> [--convert] "
                     "[--proxy-stats FILE] [--into FOLDER] [--changed-only] [--seed-record N] "
                     "[--host-key SHA256:<fingerprint>]\n");
        return 2;
    }
    if (const qsizetype at = args.indexOf(QStringLiteral("--seed-record")); at > 0 && at + 1 < args.size()) {
        PublishRecord record(args[2], args[3]);
        const int entries = args[at + 1].toInt();
        record.files().reserve(entries);
        for (int i = 0; i < entries; ++i)
            record.files().insert(
                QStringLiteral("/seed/d%1/page%2.html").arg(i % 100).arg(i),
                {1000 + i, 1700000000000 + i, QByteArray(64, 'a'), false, QString(), 1000 + i, 1700000000 + i, 1});
        QDir().mkpath(AppFolders::current().dataDirectory);
        if (!record.write(PublishRecord::filePath(AppFolders::current().dataDirectory, args[2], args[3]))) {
            std::fprintf(stderr, "the record could not be written\n");
            return 1;
        }
    }
    TForm1 form;
    TForm2 dialog(form.state().credentials, &form);
    form.setConnectDialog(&dialog);
    Settle settle(form);
    form.show();
    // sftp://host:port: the connection goes over SFTP with the host key of --host-key trusted, as a profile that
    // trusted it before would; any other key is refused, so a run never trusts a key it was not given.
    const QString sftpScheme = QStringLiteral("sftp://");
    QElapsedTimer connectClock;
    connectClock.start();
    if (args[2].startsWith(sftpScheme)) {
        const qsizetype at = args.indexOf(QStringLiteral("--host-key"));
        Credentials profile{args[2].mid(sftpScheme.size()), args[3], args[4], {}};
        profile.settings.protocol = TransferProtocol::Sftp;
        profile.settings.hostKey = at > 0 && at + 1 < args.size() ? args[at + 1] : QString();
        if (!isHostKeyText(profile.settings.hostKey)) {
            std::fprintf(stderr, "sftp:// needs --host-key SHA256:<fingerprint>\n");
            return 2;
        }
        AppConfig config;
        QStringList names = readProfileNames(config);
        storeProfile(config, QStringLiteral("bench-sftp"), profile, names);
        ModalAnswerer refuseOtherKeys([](QWidget* modal) {
            if (auto* question = qobject_cast<HostKeyDialog*>(modal)) {
                std::fprintf(stderr, "the server's host key is not the one given\n");
                question->distrustButton()->click();
            }
        });
        connectLikeAUser(form, profile.server, profile.userId, profile.password, QStringLiteral("bench-sftp"));
    } else {
        connectLikeAUser(form, args[2], args[3], args[4]);
    }
    if (form.currentLayout() != MainWindowPort::Layout::Browser)
        return 1;
    // The connect dialog's test and the first listing of the root, as the user waits for them.
    std::printf("connect %.3f s\n", connectClock.nsecsElapsed() / 1e9);
    // --into: the drop goes into that folder of the root, as when the user selected it first (a server whose
    // root the user may not write).
    if (const qsizetype at = args.indexOf(QStringLiteral("--into")); at > 0 && at + 1 < args.size()) {
        QTreeWidgetItem* node = nodeNamed(form.tree(), args[at + 1]);
        if (!node) {
            std::fprintf(stderr, "no folder %s in the root\n", qPrintable(args[at + 1]));
            return 1;
        }
        clickNode(form.tree(), node);
        QDeadlineTimer deadline(10000);
        while ((form.tree()->currentItem() != node || form.state().BusyLock) && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    // Set both ways: the window restores the options of the last drop from the settings file, so a converting
    // run would otherwise make every later run convert as well.
    form.findChild<QCheckBox*>(QStringLiteral("ChangedOnlyBox"))
        ->setChecked(args.contains(QStringLiteral("--changed-only")));
    const bool convert = args.contains(QStringLiteral("--convert"));
    form.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(convert);
    if (convert)
        form.findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentIndex(1);
    settle.wait();

    // The upload ends with one modal window: the completion message or the failure report. The time is taken
    // when it is shown.
    QEventLoop loop;
    QElapsedTimer timer;
    double seconds = 0;
    QStringList failed;
    EndWatch watch([&](QWidget* modal) {
        seconds = timer.nsecsElapsed() / 1e9;
        QTimer::singleShot(0, modal, [&, modal] {
            if (auto* memo = modal->findChild<QPlainTextEdit*>())
                failed = memo->toPlainText().split('\n', Qt::SkipEmptyParts);
            modal->close();
            loop.quit();
        });
    });
    app.installEventFilter(&watch);

    // The delay proxy's counts so far, so that run.sh can tell the drop's own round trips and logins from the
    // window's. The proxy writes them when a connection has ended on both sides, a few delays after the client let
    // go: the drop waits until it has seen the window's two connections (the connect test and the first listing)
    // end, for two seconds at most.
    if (const qsizetype at = args.indexOf(QStringLiteral("--proxy-stats")); at > 0 && at + 1 < args.size()) {
        QByteArray counts;
        QDeadlineTimer deadline(2000);
        do {
            QFile stats(args[at + 1]);
            if (stats.open(QIODevice::ReadOnly))
                counts = stats.readAll().trimmed();
            if (counts.split(' ').value(0).toInt() >= 2)
                break;
            QThread::msleep(20);
        } while (!deadline.hasExpired());
        std::printf("before drop: %s\n", counts.constData());
    }

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(args[1])});
    QWidget* target = form.tree()->viewport();
    const QPoint pos(10, 10);
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    timer.start();
    QCoreApplication::sendEvent(target, &drop);
    loop.exec();
    app.removeEventFilter(&watch);
    std::printf("pelno %.2f s, %d failed, %s sent, %s unchanged\n", seconds, int(failed.size()),
                qPrintable(form.sentCountLabel()->text()), qPrintable(form.unchangedCountLabel()->text()));
    for (const QString& entry : failed)
        std::printf("failed: %s\n", qPrintable(entry));
    form.close();
    return failed.isEmpty() ? 0 : 1;
}
