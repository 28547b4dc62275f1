#include "remove/deletecontroller.h"

#include "browse/filelistview.h"
#include "browse/mainstate.h"
#include "browse/mainwindowport.h"
#include "browse/remotebrowser.h"
#include "ftp/ftprunner.h"
#include "ftp/messagebox.h"
#include "remove/deletionplan.h"
#include "remove/tthread_ftpdelete.h"
#include "upload/batchexchange.h"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>

namespace {

const char* const PlanningStatus = "削除するファイル一覧を作成しています";
const char* const DeletingStatus = "ファイルを削除しています";
const char* const FinishedMessage = "削除処理が終了しました。";
const char* const BusyMessage = "現在処理中です。\r\n処理が終了してから再度実行してください。";

// Clears the planning mark however planning ends.
struct PlanningScope
{
    bool& flag;
    explicit PlanningScope(bool& f) : flag(f) { flag = true; }
    ~PlanningScope() { flag = false; }
};

} // namespace

DeleteController::DeleteController(MainWindowPort& port, QObject* parent) : QObject(parent), m_port(port) {}

bool DeleteController::deletionUnderWay() const
{
    const MainState& state = m_port.state();
    return m_planning || state.anyWorkerIn(MainState::kDeleteSlotFirst) || !state.DeleteQueue.isEmpty() ||
           !state.DeferredDirectoryQueue.isEmpty();
}

bool DeleteController::refuseWhileBusy()
{
    // A second plan would replace the queues of the first: its remaining files and directories would be
    // dropped without a trace, and running workers of one mode would take the other plan's entries.
    // A listing that runs now holds the one script file, which the planning's listings need too.
    if (!deletionUnderWay() && !ftpScriptRunning())
        return false;
    showMessage(m_port.window(), QString::fromUtf8(BusyMessage));
    return true;
}

void DeleteController::D1Click()
{
    if (m_port.state().closing || refuseWhileBusy())
        return;
    // The selection is taken now: the listings below let the user select other nodes meanwhile.
    QStringList paths;
    for (QTreeWidgetItem* node : m_port.tree()->selectedItems())
        paths.append(m_port.browser().RemotePathOfNode(node));

    MainState& state = m_port.state();
    PlanningScope planning(m_planning);
    state.DeleteContext = 0;
    m_port.setStatusText(QString::fromUtf8(PlanningStatus), true);
    state.DeleteQueue.clear();
    for (const QString& path : paths) {
        CollectRemoteTree(path + QLatin1Char('/'), state.DeleteQueue);
        state.DeleteQueue.append(directoryEntry(path));
    }
    if (!state.DeleteQueue.isEmpty())
        StartDeletion();
}

void DeleteController::D3Click()
{
    if (m_port.state().closing || refuseWhileBusy())
        return;
    struct Chosen
    {
        QString caption;
        bool directory;
    };
    const QString directory = m_port.browser().RemotePathOfNode(m_port.browser().selectedNode());
    QList<Chosen> chosen;
    FileListView* list = m_port.fileList();
    for (int row : list->selectedRows())
        chosen.append({list->caption(row), list->imageIndex(row) == FileListView::kDirectoryImage});

    MainState& state = m_port.state();
    PlanningScope planning(m_planning);
    state.DeleteContext = 1;
    m_port.setStatusText(QString::fromUtf8(PlanningStatus), true);
    state.DeleteQueue.clear();
    for (const Chosen& item : chosen) {
        QString path = directory + QLatin1Char('/') + item.caption;
        if (item.directory) {
            path += QLatin1Char('/');
            CollectRemoteTree(path, state.DeleteQueue);
            state.DeleteQueue.append(directoryEntry(path));
        } else {
            state.DeleteQueue.append(path);
        }
    }
    if (!state.DeleteQueue.isEmpty())
        StartDeletion();
}

void DeleteController::CollectRemoteTree(const QString& path, QStringList& queue)
{
    // The window may have begun to close while an earlier listing of this plan was running.
    if (m_port.state().closing)
        return;
    const Credentials credentials = m_port.state().credentials;
    ::CollectRemoteTree(credentials, path, queue);
}

void DeleteController::StartDeletion()
{
    MainState& state = m_port.state();
    if (state.closing) {
        state.DeleteQueue.clear();
        return;
    }
    m_port.setStatusText(QString::fromUtf8(DeletingStatus), true);
    const DeletionSplit split = splitDeletionPlan(state.DeleteQueue);
    const int planned = int(state.DeleteQueue.size());
    state.DeleteQueue = split.files;
    state.DeferredDirectoryQueue = split.directories;

    // The progress display counts along although the browser layout stays in view.
    m_port.plannedCountLabel()->setText(QLocale().toString(planned));
    m_port.sentCountLabel()->setText(QStringLiteral("0"));
    m_port.progressBar()->setValue(0);
    m_port.progressBar()->setRange(0, std::max(planned, 1));
    m_port.progressBar()->setValue(0);

    for (int index = 0; index < MainState::kSlotsPerKind; ++index) {
        if (!state.WorkerSlots[MainState::kDeleteSlotFirst + index])
            startWorker(index, split.mode);
    }
}

void DeleteController::startWorker(int slotIndex, int mode)
{
    MainState& state = m_port.state();
    auto* worker = new TThread_FTPDelete(this);
    state.WorkerSlots[MainState::kDeleteSlotFirst + slotIndex] = worker;
    worker->slotIndex = slotIndex;
    worker->mode = mode;
    worker->server = state.credentials.server;
    worker->userId = state.credentials.userId;
    worker->password = state.credentials.password;
    worker->settings = state.credentials.settings;
    worker->start();
}

void DeleteController::exchangeBatch(TThread_FTPDelete* worker)
{
    ExchangeBatch(m_port, m_port.state().DeleteQueue, worker->batch, worker->successCount);
}

void DeleteController::DeleteWorkerFinished(TThread_FTPDelete* worker)
{
    MainState& state = m_port.state();
    state.WorkerSlots[MainState::kDeleteSlotFirst + worker->slotIndex] = nullptr;
    if (state.anyWorkerIn(MainState::kDeleteSlotFirst) || state.closing)
        return;
    if (!state.DeferredDirectoryQueue.isEmpty()) {
        // The directory worker starts only after this handler has returned and this worker is on its way out.
        QMetaObject::invokeMethod(this, &DeleteController::StartDirectoryPhase, Qt::QueuedConnection);
        return;
    }
    finishDeletion();
}

void DeleteController::StartDirectoryPhase()
{
    MainState& state = m_port.state();
    if (state.closing || !state.DeleteQueue.isEmpty())
        return;
    state.DeleteQueue.append(state.DeferredDirectoryQueue);
    state.DeferredDirectoryQueue.clear();
    // One worker only: it removes the directories strictly in plan order, children before their parents.
    if (!state.WorkerSlots[MainState::kDeleteSlotFirst])
        startWorker(0, kDeleteDirectoryMode);
}

void DeleteController::finishDeletion()
{
    MainState& state = m_port.state();
    m_port.elapsedTimer()->stop();

    QTreeWidgetItem* node = m_port.browser().selectedNode();
    // A tree deletion removed the selected directories themselves: their parent holds what changed.
    if (node && state.DeleteContext == 0)
        node = node->parent();
    if (node)
        m_port.browser().ListRemoteDirectory(node, m_port.browser().RemotePathOfNode(node) + QLatin1Char('/'));
    else
        m_port.browser().listRoot();

    m_port.setStatusText(QString(), false);
    showMessage(m_port.window(), QString::fromUtf8(FinishedMessage));
}
