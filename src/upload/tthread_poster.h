#pragma once

#include "ftp/connectionsettings.h"
#include "ftp/wininet.h"

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>

class RemoteDirectorySet;
class UploadController;
struct InternetHandle;

// One upload worker: takes batches of up to ten queue entries through the controller's batch exchange and
// uploads them over one FTP connection of its own, opened at its first batch and kept for the round: one login
// per worker and round. Before each put it sends MKD for the ancestors that the round's directory set does not
// know yet, outermost first.
//
// When the connection fails (refused, reset, timed out, or turned away with 421 or a close before the login), the
// worker does not fail what it holds: the entry under way fails, the entries not tried go back to the head of the
// queue, and the worker waits before its next attempt: up to three more attempts, 1, 2 and 3 s (the reply
// time-out) apart, and it ends when the last of them fails too. A worker whose login is turned away while another
// worker of the run is connected ends at once: the run goes on with the connections the server allows. A refused login
// (530 and every answer but 421) fails the batch at once. Entries left in the queue when the round's last worker ends
// fail the round, as before.
//
// Contract: the main thread creates the worker, stores it in its slot, sets the fields and starts it; afterwards
// only the worker touches them, except while it waits in a call that runs on the main thread (the batch exchange,
// the login notice, the completion handler). run() never throws. It checks for a stop request before every
// exchange, after every entry and every 50 ms of a wait; a stopped worker leaves its count and the rest of its
// batch as they are, for the completion handler to report (or drop, while the window closes). The connection is
// closed (QUIT) before the completion handler runs. At the end the controller's UploadWorkerDone runs on the main
// thread while the thread waits; the object deletes itself once the thread has finished.
class TThread_Poster : public QThread
{
    Q_OBJECT
public:
    explicit TThread_Poster(UploadController* controller);

    int sentCount = 0; // uploads since the last exchange
    // Bytes this worker's transfers have moved; the FTP layer adds to it, the main thread reads it any time.
    std::atomic<qint64> transferredBytes = 0;
    QString server;
    QString user;
    QString password;
    FtpConnectionSettings settings;
    QString targetDirectory;   // ends with "/"
    QStringList batch;         // at an exchange: the entries that failed (or were not tried after a stop)
    QStringList untried;       // at an exchange: entries to go back to the head of the queue
    bool loggedIn = false;     // at an exchange: whether this worker holds a logged-in connection
    bool loginRefused = false; // at the completion handler: the server refused this worker's login
    int slotIndex = 0;
    int transferMode = 3;                            // 1 ASCII, 2 binary, 3 (or 0) decided per file
    QString encodingName;                            // empty: files are sent as they are
    QString dataDirectory;                           // where converted copies are written, no trailing "/"
    std::shared_ptr<RemoteDirectorySet> directories; // the round's, shared with its other workers

protected:
    void run() override; // Execute

private:
    enum class BatchResult
    {
        Sent,           // every entry tried (some may have failed with an answer)
        ConnectionLost, // the connection failed under way: batch holds the entry that failed, untried the rest
        NoConnection,   // no login, for a reason that may pass: untried holds the whole batch
        LoginRefused    // the server refused the login: the batch fails
    };
    BatchResult SendBatch();
    bool openConnection();
    bool exchange(bool take);             // true: another worker of the run holds a connection
    bool waitBeforeRetry(int waitNumber); // false: asked to stop meanwhile
    void closeConnection();
    bool sendEntry(const QString& entry);
    bool createDirectoryEntry(const QString& relativeName);
    bool createDirectories(const QStringList& chain); // true: the last one was created by this call
    QString temporaryCopyPath(const QString& localPath) const;

    UploadController* m_controller;
    InternetHandle* m_root = nullptr;
    InternetHandle* m_connection = nullptr;
    bool m_connectionFailed = false; // an operation of this batch got no answer
    FtpConnectFailure m_connectFailure = FtpConnectFailure::None;
};
