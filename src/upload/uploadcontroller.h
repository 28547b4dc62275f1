#pragma once

#include "jobs/batchhost.h"
#include "transfer/publishrecord.h"
#include "transfer/transferrate.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <atomic>

#include <memory>
#include <optional>
#include <utility>

class BatchWorker;
class MainWindowPort;
class RemoteBrowser;
class QMimeData;
class RemoteLister;
class QTimer;
class QTreeWidgetItem;
class QWidget;
class TransferTypeHints;

// The upload: the application-wide drop hook, the start of the upload workers, their batch exchange, the end of
// each round with up to two resend rounds, and the failure report.
//
// Contract: lives on the main thread; every member runs there. The workers reach it only through its BatchHost
// calls, which they make as blocking queued calls, and through the round's RemoteDirectorySet (its own lock; a new
// set every round). A drop is taken when it carries local files
// and lands on the tree or the file list; the drag is accepted there so that the drop can happen at all, and the
// drop itself is passed on to the widget afterwards. A drop on the file list goes to the directory the list shows,
// one on the tree to the tree's selected node. Once the main window has begun to close, drops are ignored without
// a message and no worker starts; the end of a round starts no resend round, lists nothing and shows nothing.
//
// The stop command ends a run for good: the queue's rest goes to FailedList at once, every worker finishes the
// file under way and leaves its batch's rest to its completion handler, which puts it in FailedList too; no resend
// round follows, and the run ends as any other (listing, message or report). Transfer rate and time left come
// from the workers' byte counters (atomics the FTP layer adds to), read by the one-second timer on this thread.
//
// A round in which connections failed (refused, dropped, timed out, turned away) is followed by its resend round
// only after a pause, 3 s before the second round and 10 s before the third, counted down in the status line by a
// timer on this thread; the server may be back, or have freed its connections, by then. A round whose failures
// were all the server's answers (a refused login among them) resends at once: waiting would not change them. The
// stop command and the closing window end a pause at once; stopped, the run ends with its report.
//
// With "変更分のみ送信" on, a drop is first compared with the server: the directories it maps to are listed (in
// parallel, by a RemoteLister of the run that is closed before the workers start), a short-lived thread of the
// controller's own compares each file with its listing and the publish record (it gets its input and hands back
// its result, touching nothing else) and deletes temporary files of ours left in those directories, while this
// thread waits in a local event loop. Only new and changed files are queued; files the server has already are
// replaced whole by the workers. The stop command ends the comparison too: every dropped entry then goes to
// FailedList. After each round the directories of what arrived are listed again, over the connections its
// workers handed over as they found the queue drained, and the publish record, with what the server shows of those
// files, is written whole.
class UploadController : public BatchHost
{
    Q_OBJECT
public:
    // Installs AppMessageHook on the application object at once.
    UploadController(MainWindowPort& port, RemoteBrowser& browser, QObject* parent = nullptr);
    ~UploadController() override;

    void StartUploadWorkers();

    // True while upload workers run.
    bool uploadUnderWay() const;
    // The stop command; does nothing when no upload runs or it was stopped already.
    void stop();
    // Bytes the workers of this upload have moved so far.
    qint64 transferredBytes() const;

    // BatchHost: a worker's report counts and fails what it says, puts its untried entries back at the head of the
    // queue and, with take, hands it the next batch (empty when the queue is drained or the run was stopped).
    // Without take the worker reports a failed connection and is about to wait. The offer says whether another
    // worker of the run holds a connection (as far as their calls have told).
    BatchOffer exchangeBatch(BatchWorker* worker, BatchReport report, bool take) override;
    void workerLoggedIn(BatchWorker* worker) override;
    void offerConnection(BatchWorker* worker, std::unique_ptr<FtpSession>& session) override;
    void workerDone(BatchWorker* worker, BatchReport rest) override { UploadWorkerDone(worker, std::move(rest)); }
    // The completion handler of an upload worker: accounts for what it still held, and when it was the round's
    // last, starts the next round or ends the upload.
    void UploadWorkerDone(BatchWorker* worker, BatchReport rest);

    // The number of rounds of one upload: the first and two automatic resend rounds.
    static constexpr int kRounds = 3;

public slots:
    void Timer1Timer();
    void Button2Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override; // AppMessageHook

private:
    void AppMessageHook(QObject* target, const QStringList& droppedPaths);
    bool isDropTarget(const QObject* object);
    QTreeWidgetItem* selectedNode();
    void saveUploadOptions();
    void finishUpload();
    void showRate();
    void startResendPause(int seconds);
    void resendPauseTick();
    void showWaitingForServer(bool waiting);
    // The comparison before the upload; false when it was stopped (or the window closes) and the run has ended.
    bool compareDroppedFiles();
    // Adds what arrived in the round that just ended to the publish record and writes it.
    void recordRound();
    std::unique_ptr<RemoteLister> makeRecordLister(qsizetype directories) const;

    MainWindowPort& m_port;
    RemoteBrowser& m_browser;
    bool m_stopped = false;
    qint64 m_plannedBytes = 0;  // sizes of the entries queued, those of resend rounds again
    qint64 m_finishedBytes = 0; // moved by workers that have ended
    TransferRateWindow m_rate;
    int m_runningWorkers = 0;             // upload workers started and not yet done, for the fair batch size
    QSet<const BatchWorker*> m_connected; // workers of the round whose last call said they are logged in
    bool m_connectionTrouble = false;     // a connection of this round failed
    bool m_loginRefused = false;          // the server refused a login of this round
    bool m_waitingShown = false;          // the status line says that the workers wait for the server
    QTimer* m_resendPause = nullptr;      // runs between rounds, ticking once a second
    int m_resendPauseLeft = 0;            // seconds
    // What the running round's sniffing found, shared with its workers.
    std::shared_ptr<TransferTypeHints> m_typeHints;

    // Of a run with "変更分のみ送信" on:
    bool m_changedOnly = false;
    bool m_comparing = false;
    std::atomic<bool> m_comparisonStopped = false; // read by the comparison's thread
    int m_unchanged = 0;
    QString m_recordPath;
    PublishRecord m_record;
    QHash<QString, PublishedFile> m_pending; // by entry: what the record gets for a file once it arrived
    QStringList m_roundEntries;              // the entries the running round started with
    std::shared_ptr<const QSet<QString>> m_existingFiles;
    std::optional<bool> m_offersMlsd; // as the comparison's listings found
    qsizetype m_roundDirectories = 0; // the directories recordRound will list for the running round
    std::unique_ptr<RemoteLister> m_recordLister;
};
