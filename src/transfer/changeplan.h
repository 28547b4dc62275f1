#pragma once

#include "ftp/remotelister.h"
#include "transfer/publishrecord.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

// A file that an upload puts over an existing one goes first under a name with this prefix in the same directory,
// then is renamed over the old one: web servers that hide dot files never serve the half-written file.
inline const QString kTemporaryUploadPrefix = QStringLiteral(".pelno-");

// What the comparison knows of a local file to send, with what it would send. The two functions are asked only
// when a rule needs them (reading and hashing or converting a file costs time).
struct LocalFile
{
    qint64 size = -1;
    qint64 modifiedMs = 0;              // milliseconds since the epoch, UTC
    bool binary = false;                // the transfer type chosen now
    QString conversion;                 // the charset chosen now; empty: sent as it is
    std::function<QByteArray()> sha256; // hex; empty when the file cannot be read
    // Sizes of the bytes PELNO would send, with LF and with CR LF line ends (after the conversion); -1 when unknown.
    std::function<std::pair<qint64, qint64>()> textSizes;
};

struct ChangeDecision
{
    bool send = true;
    // Without send: the record entry to keep for the file (a touched file's new time, or the first record of a
    // file the server already had), when it differs from the one there was.
    std::optional<PublishedFile> recordEntry;
};

// Whether a file is to be sent, from what is known locally, the record of what was sent (null: none) and the
// server's entry (null: the listing shows no such file). A file is sent when the server has none; with a record,
// when the source changed (size, or time and content), the transfer type or conversion changed, or the server's
// size or time is not what it was after our upload; without one, unless the server's file has the local size
// (for text, the size of either line-end form of what would be sent) and is not older (within the listing's
// precision). Pure: safe on any thread.
ChangeDecision decideChange(const LocalFile& local, const PublishedFile* record, const RemoteEntry* remote);

// The SHA-256 of a file's bytes in hex; empty when it cannot be read.
QByteArray fileSha256(const QString& path);
// The sizes of the file's bytes with LF and with CR LF line ends, {-1, -1} when it cannot be read.
std::pair<qint64, qint64> textFormSizes(const QString& path);

// The remote directories (absolute, ending with "/") whose listings decide about the entries of an upload queue
// below target: the directory of each file and the parent of each directory entry.
QStringList directoriesToCompare(const QStringList& entries, const QString& target);
// The directories of wanted still worth listing after the listings so far: not those listed already, nor those
// below a directory that a listing showed missing (its parent was listed without it, or it could not be listed).
// A first publish into an empty folder so costs one listing instead of one per folder.
QStringList directoriesLeftToList(const QStringList& wanted, const QList<RemoteDirectoryListing>& listings);

// The directories of wanted that the record shows files published into, in or below them: likely still there, so
// worth listing at once with the shallowest instead of after them. In the order of wanted.
QStringList directoriesPublishedInto(const QStringList& wanted, const QHash<QString, PublishedFile>& record);

// What the comparison reads of a local file. Reading it needs no listing, so it runs while the listings are made.
struct LocalFacts
{
    bool isFile = false;
    qint64 size = -1;
    qint64 modifiedMs = 0;      // milliseconds since the epoch, UTC
    std::optional<bool> binary; // the transfer type chosen now; nullopt: the file could not be sniffed
    QByteArray sha256;          // hex; empty: not read
};

// The comparison of a drop with the server, run on a short-lived thread of the upload's own: it gets everything as
// its input and hands back its result, touching nothing else.
struct ChangeComparisonInput
{
    QStringList entries;
    QString target;        // ends with "/"
    int transferMode = 3;  // 1 ASCII, 2 binary, otherwise decided per file
    QString encodingName;  // empty: no conversion
    QString dataDirectory; // where conversions to measure text sizes are written and removed again
    QList<RemoteDirectoryListing> listings;
    QHash<QString, PublishedFile> record;
    QHash<QString, LocalFacts> localFacts; // by entry, from readLocalFacts; what is not there is read when needed
};

// The facts of the input's files (its listings are not looked at). The SHA-256 only of files whose content the
// comparison surely needs: the record has no entry for them, or one of another size or time. Ends early, with
// what it has, when stopped says so.
QHash<QString, LocalFacts> readLocalFacts(const ChangeComparisonInput& input,
                                          const std::function<bool()>& stopped = {});

struct ChangeComparisonResult
{
    QStringList toSend; // in the order of the input
    int unchanged = 0;  // files not sent; directory entries that exist are left out without a count
    QHash<QString, PublishedFile> recordUpdates; // by remote path: for files not sent
    QHash<QString, PublishedFile> pending;       // by entry: the record entry of a file to send, once it arrived
    QSet<QString> existing;                      // remote paths of files to send that the server has already
    QStringList leftovers;                       // remote paths of temporary upload files in the listed directories
};

ChangeComparisonResult compareWithServer(const ChangeComparisonInput& input, const std::function<bool()>& stopped = {});
