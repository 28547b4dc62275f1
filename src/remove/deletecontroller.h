#pragma once

#include "jobs/batchhost.h"
#include "transfer/deletionplan.h"

#include <QStringList>
#include <utility>

class MainWindowPort;
class QTreeWidgetItem;
class RemoteBrowser;

// Deleting on the server: planning the deletion of the tree's or the file list's selection, the delete workers
// of the file phase and those of the directory phase, which removes the directories level by level, deepest
// first, each level by up to ten workers in parallel. Lives on the main thread; the workers reach it
// only through its BatchHost calls, which they make as blocking queued calls.
//
// A plan is made with listings that keep processing events, so the user may act meanwhile: each command takes
// its selection when it is chosen. A command chosen while an earlier deletion is still being planned or carried
// out is refused with the busy message, so no deletion drops the rest of another.
//
// The stop command ends a deletion for good: during planning, no further directory is listed and nothing is
// deleted; afterwards the queue's rest and the pending directories go to FailedList at once, every
// worker finishes the entry under way and its completion handler puts the rest of its batch in FailedList, no
// directory phase starts, and the deletion ends as any other.
class DeleteController : public BatchHost
{
    Q_OBJECT
public:
    DeleteController(MainWindowPort& port, RemoteBrowser& browser, QObject* parent = nullptr);

    // Splits the plan in DeleteQueue into files and deferred directories and starts the workers.
    void StartDeletion();

    // True from the moment a delete command is accepted until its last worker has finished and no directory
    // phase is pending.
    bool deletionUnderWay() const;
    // The stop command; does nothing when no deletion is being planned or carried out.
    void stop();

    // BatchHost: a worker's report counts and fails what it says and the worker gets the next batch of up to ten.
    BatchOffer exchangeBatch(BatchWorker* worker, BatchReport report, bool take) override;
    void workerDone(BatchWorker* worker, BatchReport rest) override { DeleteWorkerFinished(worker, std::move(rest)); }
    // The completion handler of a delete worker: accounts for what it still held, and when it was the last,
    // starts the directory phase or ends the deletion.
    void DeleteWorkerFinished(BatchWorker* worker, BatchReport rest);

public slots:
    void D1Click();
    void D3Click();
    void StartDirectoryPhase();

private:
    bool refuseWhileBusy();
    // Lists the chosen directories (paths ending with "/") and everything below them for the plan; false when a
    // stop or the closing window left the listings incomplete.
    bool listTrees(const QStringList& roots, RemoteTreeListings& listings);
    // After planning: true (and the incomplete plan dropped) when the planning was stopped.
    bool planningStopped();
    void startWorker(int slotIndex, int mode);
    void finishDeletion();

    MainWindowPort& m_port;
    RemoteBrowser& m_browser;
    bool m_planning = false;
    bool m_stopped = false;        // the deletion planned or under way was stopped
    bool m_directoryLevel = false; // the running workers remove one level of directories
};
