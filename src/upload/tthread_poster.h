#pragma once

#include "ftp/connectionsettings.h"

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

class UploadController;
struct InternetHandle;

// One upload worker: takes batches of up to ten queue entries through the controller's batch exchange and
// uploads each batch over one FTP connection of its own.
//
// Contract: the main thread creates the worker, stores it in its slot, sets the fields and starts it; afterwards
// only the worker touches them, except while it waits in a call that runs on the main thread (the batch exchange,
// the completion handler). run() never throws. It checks for a stop request before every exchange and after every
// entry; a stopped worker leaves its count and the rest of its batch as they are, for the completion handler to
// report (or drop, while the window closes). At the end the controller's UploadWorkerDone runs on the
// main thread while the thread waits; the object deletes itself once the thread has finished.
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
    int transferMode = 3;  // 1 ASCII, 2 binary, 3 (or 0) decided per file
    QString encodingName;  // empty: files are sent as they are
    QString dataDirectory; // where converted copies are written, no trailing "/"

protected:
    void run() override; // Execute

private:
    void SendBatch();
    bool sendEntry(InternetHandle* connection, const QString& entry);
    bool createDirectoryEntry(InternetHandle* connection, const QString& relativeName);
    QString temporaryCopyPath(const QString& localPath) const;

    UploadController* m_controller;
};
