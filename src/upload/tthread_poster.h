#pragma once

#include "jobs/batchworker.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class RemoteDirectorySet;
class TransferTypeHints;

// One upload worker (the loop, the connection and its retry rules are BatchWorker's, with waitForServer): for each
// entry it derives the remote name below the round's target directory, optionally converts the file into a
// temporary copy, decides ASCII or binary, sends MKD for the ancestors that the round's directory set does not know
// yet, outermost first, and puts the file; a folder entry is made with MKD and counts as sent when the folder
// exists afterwards. When the type is decided per file, a batch's files of one type go together, those of the type of
// the last put first: the server is told the type (TYPE, a round trip) only when it changes. What sniffing finds goes
// into the round's type hints, by which the controller hands the worker entries of its connection's type. Replies
// time out after 3 s, and a failed connect is not repeated by the FTP layer: the worker repeats it itself, with
// growing waits between the attempts. A file the round knows to exist on the server already is replaced whole: the
// readers of the live file see the old or the new content, never a part.
//
// Contract: as BatchWorker's; the host is the upload controller.
class TThread_Poster : public BatchWorker
{
    Q_OBJECT
public:
    // What a round's workers share; fixed when the round starts.
    struct Round
    {
        QString targetDirectory; // ends with "/"
        int transferMode = 3;    // 1 ASCII, 2 binary, 3 (or 0) decided per file
        QString encodingName;    // empty: files are sent as they are
        QString dataDirectory;   // where converted copies are written, no trailing "/"
        std::shared_ptr<RemoteDirectorySet> directories;
        std::shared_ptr<TransferTypeHints> typeHints; // what this round's sniffing found, for the exchange
        // Remote paths of files the server has already (found by the comparison before the upload; null without
        // one): each is replaced whole, put under a temporary name beside it and renamed over it.
        std::shared_ptr<const QSet<QString>> existingFiles;
    };

    TThread_Poster(BatchHost* host, int slot, const Credentials& credentials, Round round);

    // The transfer type the connection is set to (true: binary), once a file has been put. Read by the controller
    // inside an exchange, while this worker waits for it.
    std::optional<bool> lastPutBinary() const { return m_lastPutBinary; }

protected:
    BatchResult processBatch(FtpSession& session, const QStringList& batch, BatchReport& report) override
    {
        return SendBatch(session, batch, report);
    }

private:
    // Sends the batch's entries, those of the connection's transfer type first.
    BatchResult SendBatch(FtpSession& session, const QStringList& batch, BatchReport& report);
    // The order in which the entries of a batch are sent; sniffs the files for it.
    QStringList orderBatch(QStringList batch);
    // Sends one file, or makes one folder.
    bool sendEntry(HINTERNET connection, const QString& entry);
    bool createDirectoryEntry(HINTERNET connection, const QString& relativeName);
    // Puts the file under a temporary name in the remote file's directory and renames it over the remote file.
    bool replaceFile(HINTERNET connection, const QString& localPath, const QString& remotePath, DWORD type);
    // True: the last one was created this round, by this call or by another worker.
    bool createDirectories(HINTERNET connection, const QStringList& chain);
    QString temporaryCopyPath(const QString& localPath) const;

    const Round m_round;
    const Credentials m_credentials;      // for a connection of its own that removes a temporary file the worker's lost
    std::optional<bool> m_lastPutBinary;  // the transfer type of this worker's last put
    QHash<QString, bool> m_sniffedBinary; // by local path: the types decided while ordering the batch
};
