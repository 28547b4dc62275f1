#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class BatchWorker;
class FtpSession;

// What a worker hands back at a batch exchange and at its end.
struct BatchReport
{
    int doneCount = 0;         // entries done since the last exchange
    QStringList failed;        // entries that failed, or were not tried because of a stop: they go to FailedList
    QStringList untried;       // entries to go back to the head of the queue (the connection failed before them)
    bool connected = false;    // the worker holds a logged-in connection
    bool loginRefused = false; // at the end: the server refused the worker's login
};

// What a worker gets at a batch exchange.
struct BatchOffer
{
    QStringList batch;            // empty: the worker ends
    bool othersConnected = false; // another worker of the run holds a connection, as far as their calls told
};

// The controller of a kind of worker, as the workers see it. It lives on the main thread and outlives its workers
// (the main window waits for every worker before its controllers go). Every function runs on the main thread while
// the calling worker waits in a blocking queued call; the report and the offer are the only data that pass.
class BatchHost : public QObject
{
public:
    using QObject::QObject;

    // Takes the worker's report and, when take is set, hands it its next batch. Without take the worker reports
    // that its connection failed and is about to wait before it tries again.
    virtual BatchOffer exchangeBatch(BatchWorker* worker, BatchReport report, bool take) = 0;
    // The worker has just logged in.
    virtual void workerLoggedIn(BatchWorker* worker) { Q_UNUSED(worker); }
    // A worker that found the queue drained offers its logged-in connection before it closes it: a host with
    // more for the connection to do moves it out of session (it no longer counts the worker's bytes). Default:
    // left to the worker.
    virtual void offerConnection(BatchWorker* worker, std::unique_ptr<FtpSession>& session)
    {
        Q_UNUSED(worker);
        Q_UNUSED(session);
    }
    // The worker's last call: what it still holds (a stopped worker's count and the rest of its batch). The handler
    // empties the worker's slot; the worker deletes itself once its thread has finished.
    virtual void workerDone(BatchWorker* worker, BatchReport rest) = 0;
};
