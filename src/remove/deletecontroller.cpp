#include "remove/deletecontroller.h"

#include "browse/filelistview.h"
#include "browse/remotebrowser.h"
#include "dialogs/messagebox.h"
#include "ftp/remotelister.h"
#include "jobs/batchexchange.h"
#include "jobs/mainstate.h"
#include "jobs/mainwindowport.h"
#include "remove/tthread_ftpdelete.h"
#include "transfer/deletionplan.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

namespace {

const char* const PlanningStatus = "削除するファイル一覧を作成しています";
const char* const DeletingStatus = "ファイルを削除しています";
const char* const FinishedMessage = "削除処理が終了しました。";
const char* const BusyMessage = "現在処理中です。\r\n処理が終了してから再度実行してください。";

} // namespace

DeleteController::DeleteController(MainWindowPort& port, RemoteBrowser& browser, QObject* parent)
    : BatchHost(parent), m_port(port), m_browser(browser)
{}

bool DeleteController::deletionUnderWay() const
{
    const MainState& state = m_port.state();
    return m_planning || state.anyWorkerIn(MainState::kDeleteSlotFirst) || !state.DeleteQueue.isEmpty() ||
           !state.DeferredDirectoryQueue.isEmpty();
}

void DeleteController::stop()
{
    MainState& state = m_port.state();
    if (m_stopped || !deletionUnderWay() || state.closing)
        return;
    m_stopped = true;
    m_port.setStatusText(QStringLiteral("削除を中止しています"), true);
    if (m_planning)
        return; // the planning sees the mark before its next listing and deletes nothing
    // Entries no worker has taken stay undeleted: they are kept like failures.
    state.FailedList.append(state.DeleteQueue);
    state.DeleteQueue.clear();
    state.FailedList.append(state.DeferredDirectoryQueue);
    state.DeferredDirectoryQueue.clear();
    for (int slot = MainState::kDeleteSlotFirst; slot < MainState::kDeleteSlotFirst + MainState::kSlotsPerKind; ++slot)
        if (QThread* worker = state.WorkerSlots[slot])
            worker->requestInterruption();
    // With no worker running, a directory phase was about to start: StartDirectoryPhase ends the deletion instead.
}

bool DeleteController::refuseWhileBusy()
{
    // A second plan would replace the queues of the first: its remaining files and directories would be
    // dropped without a trace, and running workers of one mode would take the other plan's entries.
    // A browsing listing under way refuses it too, as the planning makes the browser's listings wait.
    if (!deletionUnderWay() && !m_browser.listingUnderWay())
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
        paths.append(m_browser.RemotePathOfNode(node));

    MainState& state = m_port.state();
    // The planning mark goes however planning ends.
    m_planning = true;
    const auto planning = qScopeGuard([this] { m_planning = false; });
    m_stopped = false;
    state.DeleteContext = 0;
    m_port.setStatusText(QString::fromUtf8(PlanningStatus), true);
    state.DeleteQueue.clear();
    QStringList roots;
    for (const QString& path : paths)
        roots.append(path + QLatin1Char('/'));
    RemoteTreeListings listings;
    const bool complete = listTrees(roots, listings);
    if (planningStopped() || !complete)
        return;
    for (const QString& path : paths) {
        CollectRemoteTree(listings, path + QLatin1Char('/'), state.DeleteQueue);
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
    // The items belong to the directory the list shows, which need not be the tree's selection.
    const QString directory = m_browser.fileList()->remoteDirectory();
    QList<Chosen> chosen;
    FileListView* list = m_browser.fileList();
    for (int row : list->selectedRows())
        chosen.append({list->caption(row), list->imageIndex(row) == FileListView::kDirectoryImage});

    MainState& state = m_port.state();
    // The planning mark goes however planning ends.
    m_planning = true;
    const auto planning = qScopeGuard([this] { m_planning = false; });
    m_stopped = false;
    state.DeleteContext = 1;
    m_port.setStatusText(QString::fromUtf8(PlanningStatus), true);
    state.DeleteQueue.clear();
    QStringList roots;
    for (const Chosen& item : chosen)
        if (item.directory)
            roots.append(directory + QLatin1Char('/') + item.caption + QLatin1Char('/'));
    RemoteTreeListings listings;
    const bool complete = listTrees(roots, listings);
    if (planningStopped() || !complete)
        return;
    for (const Chosen& item : chosen) {
        QString path = directory + QLatin1Char('/') + item.caption;
        if (item.directory) {
            path += QLatin1Char('/');
            CollectRemoteTree(listings, path, state.DeleteQueue);
            state.DeleteQueue.append(directoryEntry(path));
        } else {
            state.DeleteQueue.append(path);
        }
    }
    if (!state.DeleteQueue.isEmpty())
        StartDeletion();
}

bool DeleteController::listTrees(const QStringList& roots, RemoteTreeListings& listings)
{
    // The user may have stopped, or the window begun to close, while the command was being chosen.
    const auto stopped = [this] { return m_stopped || m_port.state().closing; };
    if (stopped())
        return false;
    if (roots.isEmpty())
        return true;
    // The browser's listings wait meanwhile, as they did for every planning listing.
    m_browser.holdListings(true);
    const auto release = qScopeGuard([this] { m_browser.holdListings(false); });
    // One login per connection for the whole plan; the connections end before the workers start theirs.
    RemoteLister lister(m_port.state().credentials, MainState::kSlotsPerKind, ListingCommand::List);
    return ListRemoteTrees(lister, roots, listings, stopped);
}

bool DeleteController::planningStopped()
{
    if (!m_stopped)
        return false;
    // An incomplete plan would delete directories whose contents were never listed: nothing of it is carried out.
    m_port.state().DeleteQueue.clear();
    m_port.setStatusText(QString(), true);
    return true;
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
    m_directoryLevel = split.mode == kDeleteDirectoryMode;

    // The progress display counts along although the browser layout stays in view.
    resetProgress(m_port, planned);

    for (int index = 0; index < MainState::kSlotsPerKind; ++index) {
        if (!state.WorkerSlots[MainState::kDeleteSlotFirst + index])
            startWorker(index, split.mode);
    }
}

void DeleteController::startWorker(int slotIndex, int mode)
{
    MainState& state = m_port.state();
    const int slot = MainState::kDeleteSlotFirst + slotIndex;
    auto* worker = new TThread_FTPDelete(this, slot, state.credentials, mode);
    state.WorkerSlots[slot] = worker;
    worker->start();
}

BatchOffer DeleteController::exchangeBatch(BatchWorker* worker, BatchReport report, bool take)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    Q_UNUSED(worker);
    MainState& state = m_port.state();
    int limit = take ? kBatchSize : 0;
    // The directories of one level are shared out evenly: a level of fifteen would otherwise wait on one worker's
    // ten removals while most workers find nothing left.
    if (take && m_directoryLevel) {
        int running = 0;
        for (int slot = MainState::kDeleteSlotFirst; slot < MainState::kDeleteSlotFirst + MainState::kSlotsPerKind;
             ++slot)
            running += state.WorkerSlots[slot] ? 1 : 0;
        limit = fairBatchSize(state.DeleteQueue.size(), running);
    }
    return {ExchangeBatch(m_port, state.DeleteQueue, report, limit), false};
}

void DeleteController::DeleteWorkerFinished(BatchWorker* worker, BatchReport rest)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    MainState& state = m_port.state();
    // A stopped worker comes here with its count and the rest of its batch unreported; at a normal end both are
    // empty. Nothing goes back to the queue now: the phase may be over. While the window closes the lists are
    // about to be freed, and nothing is reported.
    if (!state.closing) {
        rest.failed += rest.untried;
        rest.untried.clear();
        QStringList noMore;
        ExchangeBatch(m_port, noMore, rest, 0);
    }
    state.WorkerSlots[worker->slot()] = nullptr;
    if (state.anyWorkerIn(MainState::kDeleteSlotFirst) || state.closing)
        return;
    if (!m_stopped && !state.DeferredDirectoryQueue.isEmpty()) {
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
    if (m_stopped) {
        // Stopped between the phases: no directory is removed, they are all in FailedList already.
        if (!state.anyWorkerIn(MainState::kDeleteSlotFirst))
            finishDeletion();
        return;
    }
    // One level at a time, deepest first: the workers of a level remove its directories in parallel, and the
    // next level starts only when the last of them has ended, so no directory goes before anything below it.
    state.DeleteQueue = takeDeepestDirectories(state.DeferredDirectoryQueue);
    m_directoryLevel = true;
    for (int index = 0; index < MainState::kSlotsPerKind; ++index) {
        if (!state.WorkerSlots[MainState::kDeleteSlotFirst + index])
            startWorker(index, kDeleteDirectoryMode);
    }
}

void DeleteController::finishDeletion()
{
    MainState& state = m_port.state();
    m_port.elapsedTimer()->stop();

    if (state.DeleteContext == 1) {
        // A list deletion changed the directory the list shows.
        m_browser.listShownAgain();
    } else {
        // A tree deletion removed the selected directories themselves: their parent holds what changed.
        QTreeWidgetItem* node = m_browser.selectedNode();
        if (node)
            node = node->parent();
        if (node)
            m_browser.ListRemoteDirectory(node, m_browser.RemotePathOfNode(node) + QLatin1Char('/'));
        else
            m_browser.listRoot();
    }

    // The listing keeps the event loop running: the window may have begun to close meanwhile.
    if (state.closing)
        return;
    m_port.setStatusText(QString(), false);
    showMessage(m_port.window(), QString::fromUtf8(FinishedMessage));
}
