#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The entries of the upload queue and how a worker reads them back.
//
// An entry is either the full local path of a dropped file (plain entry) or "<>" + R + "<>" + P (marker entry)
// for a file found below a dropped folder: R is the dropped folder without a trailing "/" (the root stays "/"), P
// the file's full path, which begins with R + "/" (or with "/" when R is the root). Entries are stored and shown
// in this form everywhere: queue, batches, failure list and report.
//
// Contract: pure functions over local paths with "/" separators, safe on any thread. The walk runs on the main
// thread at a drop; splitUploadEntry and remoteDirectoriesOf run on the upload workers.

// Queues a dropped path: a directory is walked (CollectFolderFiles with the mask "*.*" and the path as root),
// anything else is queued as it stands, existing or not (its upload then fails and it is reported).
void AddDroppedPath(const QString& path, QStringList& queue);

// Appends one marker entry per file below folder, at any depth, in the order the file system lists them.
// Hidden files and dot files are included; "." and ".." are skipped. Every real directory is walked once, so a
// symbolic link that leads back up ends the walk there; a link to a file counts as a file. An empty mask, "*" or
// "*.*" admit every name. A folder that cannot be read adds nothing.
void CollectFolderFiles(QStringList& queue, const QString& folder, const QString& mask, const QString& root);

// The local file of an entry and its name relative to the target directory ("site/img/logo.png" for a file
// img/logo.png below the dropped folder site; "a.txt" for a plain entry). Names may hold "<>", so a marker entry
// is split at the first "<>" after which the rest begins with the text before it plus "/"; should several places
// qualify, the first one whose local file exists wins (exists is asked only then). std::nullopt when the entry
// has no such place or names no file.
struct UploadEntryParts
{
    QString localPath;
    QString relativeName;
};
std::optional<UploadEntryParts> splitUploadEntry(const QString& entry,
                                                 const std::function<bool(const QString&)>& exists = {});

// The remote directories to create before putting relativeName below target (target ends with "/"): target
// plus each ancestor of the relative name, outermost first ("/www/site", "/www/site/img").
QStringList remoteDirectoriesOf(const QString& target, const QString& relativeName);

// The planned-count text of an upload and of a deletion alike: the number with the digit grouping of the user's
// locale, even where that locale would leave it out, as the C locale does ("#,##0").
QString groupedCount(qsizetype count);
