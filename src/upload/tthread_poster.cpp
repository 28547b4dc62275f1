#include "upload/tthread_poster.h"

#include "ftp/ftpconnection.h"
#include "transfer/changeplan.h"
#include "transfer/codepage.h"
#include "transfer/transfertypehints.h"
#include "transfer/uploadqueue.h"
#include "upload/remotedirectoryset.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>

#include <utility>

namespace {

// The worker repeats a failed connect itself, with growing waits between the attempts; the layer's own quick
// retries would only multiply what each attempt costs.
constexpr FtpTimeouts kTimeouts{3000, 0};

} // namespace

TThread_Poster::TThread_Poster(BatchHost* host, int slot, const Credentials& credentials, Round round)
    : BatchWorker(host, slot, credentials, {kTimeouts, true}), m_round(std::move(round)), m_credentials(credentials)
{}

BatchWorker::BatchResult TThread_Poster::SendBatch(FtpSession& session, const QStringList& batch, BatchReport& report)
{
    return workEntries(session, orderBatch(batch), report,
                       [this](HINTERNET connection, const QString& entry) { return sendEntry(connection, entry); });
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
    // The converted copy goes whatever happens to the transfer.
    QString copyPath;
    const auto removeCopy = qScopeGuard([&copyPath] {
        if (!copyPath.isEmpty())
            QFile::remove(copyPath);
    });
    if (!m_round.encodingName.isEmpty()) {
        copyPath = temporaryCopyPath(localPath);
        if (ConvertCodePage(localPath, copyPath, m_round.encodingName) == ConvertResult::Failed)
            return false;
        localPath = copyPath;
    }

    DWORD type = FTP_TRANSFER_TYPE_ASCII;
    if (m_round.transferMode == 2) {
        type = FTP_TRANSFER_TYPE_BINARY;
    } else if (m_round.transferMode != 1) {
        const auto sniffed = m_sniffedBinary.constFind(localPath);
        const std::optional<bool> binary =
            sniffed != m_sniffedBinary.cend() ? std::optional<bool>(*sniffed) : IsBinaryFile(localPath);
        if (!binary)
            return false;
        type = *binary ? FTP_TRANSFER_TYPE_BINARY : FTP_TRANSFER_TYPE_ASCII;
    }
    m_lastPutBinary = type == FTP_TRANSFER_TYPE_BINARY;

    createDirectories(connection, remoteDirectoriesOf(m_round.targetDirectory, parts->relativeName));
    const QString remotePath = m_round.targetDirectory + parts->relativeName;
    if (m_round.existingFiles && m_round.existingFiles->contains(remotePath))
        return replaceFile(connection, localPath, remotePath, type);
    const QByteArray remote = remotePath.toUtf8();
    if (FtpPutFileA(connection, localPath.toUtf8().constData(), remote.constData(), type, 0))
        return true;
    if (ftpLastReplyCode(connection) == 0)
        noteNoAnswer();
    return false;
}

// The temporary file goes in any case: over the worker's connection while it answers, else over a new connection
// of its own (the server may have cut the data connection off, and the reply to that is not to be trusted); one
// left even so is found and deleted by the next comparison of its directory. A server that refuses to rename onto
// an existing name gets the old file deleted first: the name is missing for one round trip, and is never half
// written.
bool TThread_Poster::replaceFile(HINTERNET connection, const QString& localPath, const QString& remotePath, DWORD type)
{
    const QString directory = remotePath.left(remotePath.lastIndexOf(QLatin1Char('/')) + 1);
    const QByteArray temporary =
        (directory + kTemporaryUploadPrefix + QString::number(QRandomGenerator::global()->generate64(), 36)).toUtf8();
    const QByteArray remote = remotePath.toUtf8();
    const auto removeTemporary = [&] {
        if (ftpLastReplyCode(connection) != 0) {
            FtpDeleteFileA(connection, temporary.constData());
            return;
        }
        noteNoAnswer();
        FtpSession cleanup(m_credentials, kTimeouts);
        if (cleanup.connect())
            FtpDeleteFileA(cleanup.connection(), temporary.constData());
    };
    if (!FtpPutFileA(connection, localPath.toUtf8().constData(), temporary.constData(), type, 0)) {
        removeTemporary();
        return false;
    }
    if (FtpRenameFileA(connection, temporary.constData(), remote.constData()))
        return true;
    if (ftpLastReplyCode(connection) != 0 && FtpDeleteFileA(connection, remote.constData()) &&
        FtpRenameFileA(connection, temporary.constData(), remote.constData()))
        return true;
    removeTemporary();
    return false;
}

QStringList TThread_Poster::orderBatch(QStringList batch)
{
    m_sniffedBinary.clear();
    // A converted copy is sniffed only once it is written; a fixed type needs no order.
    if (!m_round.encodingName.isEmpty() || m_round.transferMode == 1 || m_round.transferMode == 2)
        return batch;
    // 0: no type needed (folder entries, and what will fail before a put), 1: the last put's type, 2: the other
    std::optional<bool> firstType = m_lastPutBinary;
    QList<std::pair<int, QString>> ranked;
    ranked.reserve(batch.size());
    for (const QString& entry : std::as_const(batch)) {
        const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); });
        std::optional<bool> binary;
        if (parts && !parts->directory && isSendable(*parts)) {
            binary = IsBinaryFile(parts->localPath);
            if (binary) {
                m_sniffedBinary.insert(parts->localPath, *binary);
                if (m_round.typeHints)
                    m_round.typeHints->note(parts->localPath, *binary);
            }
        }
        if (binary && !firstType)
            firstType = binary;
        ranked.append({!binary ? 0 : *binary == *firstType ? 1 : 2, entry});
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    batch.clear();
    for (const auto& [rank, entry] : std::as_const(ranked))
        batch.append(entry);
    return batch;
}

// A directory that exists already refuses to be created again; that is expected, and a directory that really
// cannot be created shows in the put that follows. Only a MKD that got no answer leaves the directory unknown,
// for the next file that needs it to try again.
bool TThread_Poster::createDirectories(HINTERNET connection, const QStringList& chain)
{
    using Answer = RemoteDirectorySet::Answer;
    bool createdLast = false;
    for (const QString& directory : chain) {
        if (m_round.directories && !m_round.directories->claim(directory)) {
            createdLast = m_round.directories->created(directory);
            continue;
        }
        const bool created = FtpCreateDirectoryA(connection, directory.toUtf8().constData());
        const bool answered = created || ftpLastReplyCode(connection) != 0;
        if (!answered)
            noteNoAnswer();
        if (m_round.directories)
            m_round.directories->settle(directory, created    ? Answer::Created
                                                   : answered ? Answer::Refused
                                                              : Answer::None);
        createdLast = created;
    }
    return createdLast;
}

// A directory entry arrives when the directory exists on the server afterwards, whoever made it: another worker
// may have created it as the ancestor of a file, or it was there before. Only then is a refused MKD a failure.
// One that a MKD of this round created needs no check; any other costs a CWD, one round trip.
bool TThread_Poster::createDirectoryEntry(HINTERNET connection, const QString& relativeName)
{
    // With a "/" after its name the chain ends with the directory itself.
    const QString asParent = relativeName.endsWith(QLatin1Char('/')) ? relativeName : relativeName + QLatin1Char('/');
    if (createDirectories(connection, remoteDirectoriesOf(m_round.targetDirectory, asParent)))
        return true;
    if (noAnswerNoted())
        return false;
    const QByteArray remote = (m_round.targetDirectory + relativeName).toUtf8();
    const int reply = ftpSendCommand(connection, "CWD " + remote);
    if (reply == 0)
        noteNoAnswer();
    return reply >= 200 && reply < 300;
}

QString TThread_Poster::temporaryCopyPath(const QString& localPath) const
{
    return m_round.dataDirectory + QStringLiteral("/c_") + QString::number(slot()) + QLatin1Char('_') +
           QFileInfo(localPath).fileName();
}
