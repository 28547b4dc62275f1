#pragma once

#include "ftp/credentials.h"
#include "ftp/ftpsession.h"
#include "jobs/batchhost.h"

#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// The loop of an upload or delete worker: it takes batches of entries from its host's queue through the batch
// exchange and works each entry over one FTP connection of its own, opened at its first batch and kept across the
// batches of its run (one login per worker), made anew after a connection failure. What it does with a batch is
// the subclass's processBatch().
//
// Connection failures follow the worker's policy. Without waitForServer, a batch that finds no connection fails
// whole and the worker goes on with its next batch, which tries again; an entry whose operation got no answer is
// tried once more on a new connection. With waitForServer the worker does not fail
// what it holds when the connection fails (refused, reset, timed out, or turned away with 421 or a close before the
// login): the entry under way fails, the entries not tried go back to the head of the queue, and the worker waits
// before its next attempt: up to three more attempts, 1, 2 and 3 s apart, and it ends when the last of them fails
// too (and at once when its connect failed while another worker of the run is connected: the run goes on with the
// connections the server allows). A refused login (530 and every answer but 421) fails the batch and ends the
// worker: every other batch would meet the same answer.
//
// Contract: the main thread creates the worker with everything it needs, stores it in its slot and starts it;
// nothing of it changes afterwards. The worker reaches its host only through the host's calls, which run on the
// main thread while it waits (BatchHost); it reads no main-thread object otherwise. run() never throws. It checks
// for a stop request before every exchange, after every entry and every 50 ms of a wait; a stopped worker makes no
// further exchange and leaves its count and the rest of its batch to its host's workerDone. The connection is
// closed (QUIT) before workerDone runs, unless the worker found the queue drained and its host took the connection
// over (offerConnection); the object deletes itself once the thread has finished.
class BatchWorker : public QThread
{
    Q_OBJECT
public:
    struct Policy
    {
        std::optional<FtpTimeouts> timeouts; // none: the FTP layer's defaults
        bool waitForServer = false;
    };

    BatchWorker(BatchHost* host, int slot, Credentials credentials, Policy policy);

    int slot() const { return m_slot; } // the index in MainState::WorkerSlots
    // Bytes this worker's transfers have moved; the FTP layer adds to it, the main thread reads it any time.
    qint64 transferredBytes() const { return m_transferredBytes.load(std::memory_order_relaxed); }

protected:
    enum class BatchResult
    {
        Worked,         // every entry tried (some may have failed)
        ConnectionLost, // an operation got no answer: the report holds the rest as untried
        NoConnection,   // no login, for a reason that may pass: the report holds the batch as untried
        LoginRefused    // the server refused the login: the report holds the batch as failed
    };
    // Works one entry; true when it is done. Whatever goes wrong with one entry makes that entry fail and no other.
    using EntryStep = std::function<bool(HINTERNET connection, const QString& entry)>;

    void run() override;
    // The kind's work on a batch from the exchange, once the connection is made: the upload worker's SendBatch,
    // the delete worker's DeleteBatch. Each hands its entries, in the order it wants, to workEntries with its
    // step for one entry.
    virtual BatchResult processBatch(FtpSession& session, const QStringList& batch, BatchReport& report) = 0;
    // Works the entries in order with the step, and applies the retry rules of the policy to each.
    BatchResult workEntries(FtpSession& session, const QStringList& batch, BatchReport& report, const EntryStep& step);
    // Called by a step when an operation got no answer: the connection is no longer to be trusted.
    void noteNoAnswer() { m_noAnswer = true; }
    bool noAnswerNoted() const { return m_noAnswer; } // in the batch under way

private:
    BatchResult workBatch(FtpSession& session, const QStringList& taken, BatchReport& report);
    BatchOffer exchange(BatchReport& report, bool take);
    bool waitBeforeRetry(int waitNumber); // false: asked to stop meanwhile

    BatchHost* const m_host;
    const int m_slot;
    const Credentials m_credentials;
    const Policy m_policy;
    std::atomic<qint64> m_transferredBytes = 0;
    bool m_noAnswer = false;
};
