#include "upload/tthread_poster.h"

#include "ftp/ftpconnection.h"
#include "ftp/wininet.h"
#include "transfer/codepage.h"
#include "transfer/uploadqueue.h"
#include "upload/remotedirectoryset.h"
#include "upload/uploadcontroller.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>

namespace {

constexpr DWORD kTimeoutMs = 3000;
// The worker repeats a failed connect itself, with growing waits between the attempts; the layer's own quick
// retries would only multiply what each attempt costs.
constexpr DWORD kConnectRetries = 0;
constexpr int kConnectionWaits = 3; // 1, 2, 3 s
constexpr int kWaitSliceMs = 50;

// Time-outs first, then the retry count: a server that does not answer costs each connect a bounded time.
void setConnectionOptions(HINTERNET root)
{
    for (DWORD option :
         {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
          INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_CONNECT_BACKOFF})
        InternetSetOptionA(root, option, &kTimeoutMs, sizeof kTimeoutMs);
    InternetSetOptionA(root, INTERNET_OPTION_CONNECT_RETRIES, &kConnectRetries, sizeof kConnectRetries);
}

} // namespace

TThread_Poster::TThread_Poster(UploadController* controller) : m_controller(controller)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TThread_Poster::run()
{
    sentCount = 0;
    int waits = 0; // connection failures since the connection last worked
    while (!isInterruptionRequested()) {
        exchange(true);
        if (batch.isEmpty())
            break;
        const BatchResult result = SendBatch();
        if (result == BatchResult::Sent) {
            waits = 0;
            continue;
        }
        // A refused login ends the worker with its batch in hand, reported by the completion handler: every
        // other batch would meet the same answer.
        if (result == BatchResult::LoginRefused) {
            loginRefused = true;
            break;
        }
        if (sentCount > 0)
            waits = 0;
        // What was not tried goes back before the wait, so that a connected worker can take it meanwhile.
        const bool othersConnected = exchange(false);
        if (result == BatchResult::NoConnection && othersConnected)
            break;
        // Ending leaves the entries in the queue: they fail only when the round's last worker ends, that is,
        // when no worker of the run could connect.
        if (waits == kConnectionWaits || !waitBeforeRetry(waits++))
            break;
    }
    // What a stopped worker still holds (its count, the rest of its batch) is the completion handler's to report,
    // or to drop while the window closes.
    closeConnection();
    QMetaObject::invokeMethod(
        m_controller, [this] { m_controller->UploadWorkerDone(this); }, Qt::BlockingQueuedConnection);
}

bool TThread_Poster::exchange(bool take)
{
    bool othersConnected = false;
    loggedIn = m_connection != nullptr;
    QMetaObject::invokeMethod(
        m_controller, [&] { othersConnected = m_controller->exchangeBatch(this, take); }, Qt::BlockingQueuedConnection);
    return othersConnected;
}

bool TThread_Poster::waitBeforeRetry(int waitNumber)
{
    const int ms = int(std::min<qint64>(qint64(1000) << std::min(waitNumber, 20), kTimeoutMs));
    QDeadlineTimer deadline(ms);
    // In slices, so that a stop or the closing window ends the wait at once.
    while (!deadline.hasExpired()) {
        if (isInterruptionRequested())
            return false;
        QThread::msleep(ulong(std::clamp<qint64>(deadline.remainingTime(), 1, kWaitSliceMs)));
    }
    return !isInterruptionRequested();
}

bool TThread_Poster::openConnection()
{
    if (m_connection)
        return true;
    m_connectFailure = FtpConnectFailure::Rejected;
    if (!m_root) {
        m_root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        if (!m_root)
            return false;
        setConnectionOptions(m_root);
        ftpSetByteCounter(m_root, &transferredBytes);
        ftpSetConnectionSettings(m_root, settings);
    }
    m_connection =
        InternetConnectA(m_root, server.toUtf8().constData(), INTERNET_DEFAULT_FTP_PORT, user.toUtf8().constData(),
                         password.toUtf8().constData(), INTERNET_SERVICE_FTP, 0, 0);
    m_connectFailure = ftpLastConnectFailure(m_root);
    return m_connection != nullptr;
}

void TThread_Poster::closeConnection()
{
    InternetCloseHandle(m_connection);
    m_connection = nullptr;
    InternetCloseHandle(m_root);
    m_root = nullptr;
}

TThread_Poster::BatchResult TThread_Poster::SendBatch()
{
    if (!m_connection) {
        if (!openConnection()) {
            if (m_connectFailure == FtpConnectFailure::Rejected)
                return BatchResult::LoginRefused;
            untried = batch;
            batch.clear();
            return BatchResult::NoConnection;
        }
        loggedIn = true;
        QMetaObject::invokeMethod(
            m_controller, [this] { m_controller->workerLoggedIn(this); }, Qt::BlockingQueuedConnection);
    }
    m_connectionFailed = false;
    QStringList left;
    for (qsizetype i = 0; i < batch.size(); ++i) {
        if (sendEntry(batch[i]))
            ++sentCount;
        else
            left.append(batch[i]);
        // Whatever state the control connection is in after an operation without an answer, the rest is better
        // off with a new one, after a wait: the entries after this one would otherwise fail in a moment each.
        if (m_connectionFailed) {
            untried = batch.mid(i + 1);
            batch = left;
            closeConnection();
            return BatchResult::ConnectionLost;
        }
        if (isInterruptionRequested()) {
            left.append(batch.mid(i + 1));
            break;
        }
    }
    batch = left;
    return BatchResult::Sent;
}

// Everything that can go wrong with one entry (no such file, the copy not written, the upload refused) makes that
// entry fail and no other.
bool TThread_Poster::sendEntry(const QString& entry)
{
    const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); });
    // Checked again here, not only at the drop: a resend round brings back what the drop rejected, and a FIFO
    // must never be opened.
    if (!parts || !isSendable(*parts))
        return false;
    if (parts->directory)
        return createDirectoryEntry(parts->relativeName);

    QString localPath = parts->localPath;
    // The converted copy goes whatever happens to the transfer.
    QString copyPath;
    const auto removeCopy = qScopeGuard([&copyPath] {
        if (!copyPath.isEmpty())
            QFile::remove(copyPath);
    });
    if (!encodingName.isEmpty()) {
        copyPath = temporaryCopyPath(localPath);
        if (ConvertCodePage(localPath, copyPath, encodingName) == ConvertResult::Failed)
            return false;
        localPath = copyPath;
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

    createDirectories(remoteDirectoriesOf(targetDirectory, parts->relativeName));
    const QByteArray remote = (targetDirectory + parts->relativeName).toUtf8();
    if (FtpPutFileA(m_connection, localPath.toUtf8().constData(), remote.constData(), type, 0))
        return true;
    if (ftpLastReplyCode(m_connection) == 0)
        m_connectionFailed = true;
    return false;
}

// A directory that exists already refuses to be created again; that is expected, and a directory that really
// cannot be created shows in the put that follows. Only a MKD that got no answer leaves the directory unknown,
// for the next file that needs it to try again.
bool TThread_Poster::createDirectories(const QStringList& chain)
{
    bool createdLast = false;
    for (const QString& directory : chain) {
        createdLast = false;
        if (directories && !directories->claim(directory))
            continue;
        const bool created = FtpCreateDirectoryA(m_connection, directory.toUtf8().constData());
        const bool answered = created || ftpLastReplyCode(m_connection) != 0;
        if (!answered)
            m_connectionFailed = true;
        if (directories)
            directories->settle(directory, answered);
        createdLast = created;
    }
    return createdLast;
}

// A directory entry arrives when the directory exists on the server afterwards, whoever made it: another worker
// may have created it as the ancestor of a file, or it was there before. Only then is a refused MKD a failure.
bool TThread_Poster::createDirectoryEntry(const QString& relativeName)
{
    // With a "/" after its name the chain ends with the directory itself.
    const QString asParent = relativeName.endsWith(QLatin1Char('/')) ? relativeName : relativeName + QLatin1Char('/');
    if (createDirectories(remoteDirectoriesOf(targetDirectory, asParent)))
        return true;
    if (m_connectionFailed)
        return false;
    const QByteArray remote = (targetDirectory + relativeName).toUtf8();
    const int reply = ftpSendCommand(m_connection, "CWD " + remote);
    if (reply == 0)
        m_connectionFailed = true;
    return reply >= 200 && reply < 300;
}

QString TThread_Poster::temporaryCopyPath(const QString& localPath) const
{
    return dataDirectory + QStringLiteral("/c_") + QString::number(slotIndex) + QLatin1Char('_') +
           QFileInfo(localPath).fileName();
}
