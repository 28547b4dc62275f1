// Uploads one dropped folder through the real program: the main window connects through its dialog, a drop of
// the folder on the tree starts the upload workers exactly as a user's drop does, and the time from the drop to
// the completion message is printed. Run through bench/run.sh.
#include "app/application.h"
#include "app/tform1.h"
#include "connectdialog.h"
#include "dialogs/tform2.h"
#include "modal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>

#include <cstdio>

int main(int argc, char* argv[])
{
    PelnoApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 5) {
        std::fprintf(stderr, "usage: pelno_uploadbench <folder> <host:port> <user> <password> [--convert]\n");
        return 2;
    }
    TForm1 form;
    TForm2 dialog(form.state().credentials, &form);
    form.setConnectDialog(&dialog);
    form.show();
    connectLikeAUser(form, args[2], args[3], args[4]);
    if (form.currentLayout() != MainWindowPort::Layout::Browser)
        return 1;
    if (args.contains(QStringLiteral("--convert"))) {
        form.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(true);
        form.findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentIndex(1);
    }

    QElapsedTimer timer;
    bool finished = false;
    QStringList failed;
    // The upload ends with one modal window: the completion message or the failure report.
    whenModal(
        [&](QWidget* modal) {
            if (auto* memo = modal->findChild<QPlainTextEdit*>())
                failed = memo->toPlainText().split('\n', Qt::SkipEmptyParts);
            finished = true;
            modal->close();
        },
        24 * 3600 * 1000);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(args[1])});
    QWidget* target = form.tree()->viewport();
    const QPoint pos(10, 10);
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    timer.start();
    QCoreApplication::sendEvent(target, &drop);
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("pelno %.2f s, %d failed\n", seconds, int(failed.size()));
    for (const QString& entry : failed)
        std::printf("failed: %s\n", qPrintable(entry));
    form.close();
    return failed.isEmpty() ? 0 : 1;
}
