#pragma once

#include "jobs/batchworker.h"

// A delete worker (the loop and its connection are BatchWorker's): deletes each entry of its batches, as a file in
// file mode (DELE) or as a directory in directory mode (RMD). The FTP layer's default time-outs apply, and a batch
// that finds no connection fails whole: the next batch tries again. An operation without an answer fails its entry
// only; the layer makes the connection anew for the next one.
//
// Contract: as BatchWorker's; the host is the delete controller.
class TThread_FTPDelete : public BatchWorker
{
    Q_OBJECT
public:
    // mode: kDeleteFileMode or kDeleteDirectoryMode
    TThread_FTPDelete(BatchHost* host, int slot, const Credentials& credentials, int mode);

protected:
    BatchResult processBatch(FtpSession& session, const QStringList& batch, BatchReport& report) override
    {
        return DeleteBatch(session, batch, report);
    }

private:
    // Deletes the batch's entries in the order of the exchange.
    BatchResult DeleteBatch(FtpSession& session, const QStringList& batch, BatchReport& report);
    bool deleteEntry(HINTERNET connection, const QString& entry);

    const int m_mode;
};
