#include "remove/tthread_ftpdelete.h"

#include "ftp/ftpconnection.h"
#include "ftp/wininet.h"
#include "remove/deletecontroller.h"
#include "transfer/deletionplan.h"

TThread_FTPDelete::TThread_FTPDelete(DeleteController* owner) : m_owner(owner)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TThread_FTPDelete::run()
{
    batch.clear();
    successCount = 0;
    // The owner outlives every worker: the main window waits for all of them before its controllers go.
    DeleteController* owner = m_owner.data();
    while (owner && !isInterruptionRequested()) {
        QMetaObject::invokeMethod(
            owner, [this, owner] { owner->exchangeBatch(this); }, Qt::BlockingQueuedConnection);
        if (batch.isEmpty())
            break;
        DeleteBatch();
    }
    // A stopped worker leaves what is left in its batch to the completion handler, which reports it (or drops it
    // while the window closes).
    if (owner)
        QMetaObject::invokeMethod(
            owner, [this, owner] { owner->DeleteWorkerFinished(this); }, Qt::BlockingQueuedConnection);
}

void TThread_FTPDelete::DeleteBatch()
{
    // No options: the library's default time-outs apply to deletions.
    HINTERNET root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = nullptr;
    ftpSetConnectionSettings(root, settings);
    if (root)
        connection =
            InternetConnectA(root, server.toUtf8().constData(), INTERNET_DEFAULT_FTP_PORT, userId.toUtf8().constData(),
                             password.toUtf8().constData(), INTERNET_SERVICE_FTP, 0, 0);
    if (connection) {
        QStringList left;
        qsizetype i = 0;
        for (; i < batch.size(); ++i) {
            const QByteArray path = batch.at(i).toUtf8();
            const bool done = mode == kDeleteDirectoryMode ? FtpRemoveDirectoryA(connection, path.constData())
                                                           : FtpDeleteFileA(connection, path.constData());
            if (done)
                ++successCount;
            else
                left.append(batch.at(i));
            if (isInterruptionRequested()) {
                ++i;
                break;
            }
        }
        // The entries not tried stay after the failures, in batch order.
        left.append(batch.mid(i));
        batch = left;
    }
    InternetCloseHandle(connection);
    InternetCloseHandle(root);
}
