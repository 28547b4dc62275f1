#include "remove/tthread_ftpdelete.h"

#include "ftp/ftpconnection.h"
#include "transfer/deletionplan.h"

TThread_FTPDelete::TThread_FTPDelete(BatchHost* host, int slot, const Credentials& credentials, int mode)
    : BatchWorker(host, slot, credentials, {std::nullopt, false}), m_mode(mode)
{}

bool TThread_FTPDelete::processEntry(HINTERNET connection, const QString& entry)
{
    const QByteArray path = entry.toUtf8();
    const bool done = m_mode == kDeleteDirectoryMode ? FtpRemoveDirectoryA(connection, path.constData())
                                                     : FtpDeleteFileA(connection, path.constData());
    if (!done && ftpLastReplyCode(connection) == 0)
        noteNoAnswer();
    return done;
}
