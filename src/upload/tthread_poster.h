#pragma once

#include "ftp/connectionsettings.h"

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
// per worker and round. When an operation on that connection got no answer (the connection broke or timed out), the
// worker closes it after the batch, so the next batch starts on a new one; a batch that finds no connection is left
// whole and reported at the next exchange. Before each put it sends MKD for the ancestors that the round's directory
// set does not know yet, outermost first.
//
// Contract: the main thread creates the worker, stores it in its slot, sets the fields and starts it; afterwards
// only the worker touches them, except while it waits in a call that runs on the main thread (the batch exchange,
// the completion handler). run() never throws. It checks for a stop request before every exchange and after every
// entry; a stopped worker leaves its count and the rest of its batch as they are, for the completion handler to
// report (or drop, while the window closes). The connection is closed (QUIT) before the completion handler runs.
// At the end the controller's UploadWorkerDone runs on the main thread while the thread waits; the object deletes
// itself once the thread has finished.
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
    QString targetDirectory; // ends with "/"
    QStringList batch;
    int slotIndex = 0;
    int transferMode = 3;                            // 1 ASCII, 2 binary, 3 (or 0) decided per file
    QString encodingName;                            // empty: files are sent as they are
    QString dataDirectory;                           // where converted copies are written, no trailing "/"
    std::shared_ptr<RemoteDirectorySet> directories; // the round's, shared with its other workers

protected:
    void run() override; // Execute

private:
    bool SendBatch(); // false: no connection, nothing tried
    bool openConnection();
    void closeConnection();
    bool sendEntry(const QString& entry);
    bool createDirectoryEntry(const QString& relativeName);
    bool createDirectories(const QStringList& chain); // true: the last one was created by this call
    QString temporaryCopyPath(const QString& localPath) const;

    UploadController* m_controller;
    InternetHandle* m_root = nullptr;
    InternetHandle* m_connection = nullptr;
    bool m_connectionFailed = false; // an operation of this batch got no answer
};
