#include "remove/tthread_ftpdelete.h"

#include "ftp/ftpconnection.h"
#include "transfer/deletionplan.h"

TThread_FTPDelete::TThread_FTPDelete(BatchHost* host, int slot, const Credentials& credentials, int mode)
    : BatchWorker(host, slot, credentials, {std::nullopt, false}), m_mode(mode)
{}

BatchWorker::BatchResult TThread_FTPDelete::DeleteBatch(FtpSession& session, const QStringList& batch,
                                                        BatchReport& report)
{
    return workEntries(session, batch, report,
                       [this](HINTERNET connection, const QString& entry) { return deleteEntry(connection, entry); });
}

bool TThread_FTPDelete::deleteEntry(HINTERNET connection, const QString& entry)
{
    const QByteArray path = entry.toUtf8();
    const bool done = m_mode == kDeleteDirectoryMode ? FtpRemoveDirectoryA(connection, path.constData())
                                                     : FtpDeleteFileA(connection, path.constData());
    if (!done && ftpLastReplyCode(connection) == 0)
        noteNoAnswer();
    return done;
}
