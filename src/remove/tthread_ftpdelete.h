#pragma once

#include "ftp/connectionsettings.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>

class DeleteController;

// A delete worker: takes batches of up to ten entries from the deletion queue and deletes them over one FTP
// connection per batch (files in file mode, directories in directory mode).
//
// Contract: created and given its fields on the main thread, recorded in its slot (10 + slotIndex), then
// started. On its own thread it asks its controller for each next batch through a call that runs on the main
// thread while it waits; entries that failed or were not tried go back in that same call (they end up in the
// failure list). It stops after the entry under way once interruption is requested, makes no further exchange,
// and at the very end runs its controller's completion handler on the main thread while it waits; the handler
// takes the count and the batch's rest that a stopped worker has not reported. It deletes
// itself once finished.
class TThread_FTPDelete : public QThread
{
    Q_OBJECT
public:
    explicit TThread_FTPDelete(DeleteController* owner);

    // Set before start(); read by the worker's thread only afterwards, except in the batch exchange.
    int successCount = 0; // entries deleted since the last batch exchange
    int mode = 0;         // kDeleteFileMode or kDeleteDirectoryMode
    QString server;
    QString userId;
    QString password;
    FtpConnectionSettings settings;
    QStringList batch;
    int slotIndex = 0; // 0-9

protected:
    void run() override;

private:
    void DeleteBatch();

    QPointer<DeleteController> m_owner;
};
