#include "upload/tthread_poster.h"

#include "ftp/ftpconnection.h"
#include "ftp/wininet.h"
#include "upload/codepage.h"
#include "upload/uploadcontroller.h"
#include "upload/uploadqueue.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr DWORD kTimeoutMs = 3000;
constexpr DWORD kConnectRetries = 5;

// Time-outs first, then the retry count: a server that does not answer costs each batch a bounded time.
void setConnectionOptions(HINTERNET root)
{
    for (DWORD option :
         {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
          INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_CONNECT_BACKOFF})
        InternetSetOptionA(root, option, &kTimeoutMs, sizeof kTimeoutMs);
    InternetSetOptionA(root, INTERNET_OPTION_CONNECT_RETRIES, &kConnectRetries, sizeof kConnectRetries);
}

// Removes the converted copy whatever happened to the transfer.
struct TemporaryCopy
{
    QString path;
    ~TemporaryCopy()
    {
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

} // namespace

TThread_Poster::TThread_Poster(UploadController* controller) : m_controller(controller)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TThread_Poster::run()
{
    sentCount = 0;
    while (!isInterruptionRequested()) {
        QMetaObject::invokeMethod(
            m_controller, [this] { m_controller->exchangeBatch(this); }, Qt::BlockingQueuedConnection);
        if (batch.isEmpty())
            break;
        SendBatch();
    }
    QMetaObject::invokeMethod(
        m_controller, [this] { m_controller->UploadWorkerDone(this); }, Qt::BlockingQueuedConnection);
}

void TThread_Poster::SendBatch()
{
    HINTERNET root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = nullptr;
    if (root) {
        setConnectionOptions(root);
        ftpSetByteCounter(root, &transferredBytes);
        ftpSetConnectionSettings(root, settings);
        connection =
            InternetConnectA(root, server.toUtf8().constData(), INTERNET_DEFAULT_FTP_PORT, user.toUtf8().constData(),
                             password.toUtf8().constData(), INTERNET_SERVICE_FTP, 0, 0);
    }
    // Without a connection nothing is tried and the whole batch is reported at the next exchange.
    if (connection) {
        QStringList left;
        for (qsizetype i = 0; i < batch.size(); ++i) {
            if (sendEntry(connection, batch[i]))
                ++sentCount;
            else
                left.append(batch[i]);
            if (isInterruptionRequested()) {
                left.append(batch.mid(i + 1));
                break;
            }
        }
        batch = left;
    }
    InternetCloseHandle(connection);
    InternetCloseHandle(root);
}

// Everything that can go wrong with one entry (no such file, the copy not written, the upload refused) makes that
// entry fail and no other.
bool TThread_Poster::sendEntry(HINTERNET connection, const QString& entry)
{
    const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); });
    // Checked again here, not only at the drop: a resend round brings back what the drop rejected, and a FIFO
    // must never be opened.
    if (!parts || !isSendable(*parts))
        return false;
    if (parts->directory)
        return createDirectoryEntry(connection, parts->relativeName);

    QString localPath = parts->localPath;
    TemporaryCopy copy;
    if (!encodingName.isEmpty()) {
        copy.path = temporaryCopyPath(localPath);
        if (ConvertCodePage(localPath, copy.path, encodingName) == ConvertResult::Failed)
            return false;
        localPath = copy.path;
    }

    DWORD type = FTP_TRANSFER_TYPE_ASCII;
    if (transferMode == 2) {
        type = FTP_TRANSFER_TYPE_BINARY;
    } else if (transferMode != 1) {
        const std::optional<bool> binary = IsBinaryFile(localPath);
        if (!binary)
            return false;
        type = *binary ? FTP_TRANSFER_TYPE_BINARY : FTP_TRANSFER_TYPE_ASCII;
    }

    // Directories that exist already refuse to be created again; that is expected, and a directory that really
    // cannot be created shows in the put that follows.
    for (const QString& directory : remoteDirectoriesOf(targetDirectory, parts->relativeName))
        FtpCreateDirectoryA(connection, directory.toUtf8().constData());
    const QByteArray remote = (targetDirectory + parts->relativeName).toUtf8();
    return FtpPutFileA(connection, localPath.toUtf8().constData(), remote.constData(), type, 0);
}

// A directory entry arrives when the directory exists on the server afterwards, whoever made it: another worker
// may have created it as the ancestor of a file, or it was there before. Only then is a refused MKD a failure.
bool TThread_Poster::createDirectoryEntry(HINTERNET connection, const QString& relativeName)
{
    for (const QString& directory : remoteDirectoriesOf(targetDirectory, relativeName))
        FtpCreateDirectoryA(connection, directory.toUtf8().constData());
    const QByteArray remote = (targetDirectory + relativeName).toUtf8();
    if (FtpCreateDirectoryA(connection, remote.constData()))
        return true;
    const int reply = ftpSendCommand(connection, "CWD " + remote);
    return reply >= 200 && reply < 300;
}

QString TThread_Poster::temporaryCopyPath(const QString& localPath) const
{
    return dataDirectory + QStringLiteral("/c_") + QString::number(slotIndex) + QLatin1Char('_') +
           QFileInfo(localPath).fileName();
}
