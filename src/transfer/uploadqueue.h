#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The entries of the upload queue and how a worker reads them back.
//
// An entry is either the full local path of a dropped file (plain entry) or "<>" + R + "<>" + P (marker entry)
// for something found below a dropped folder: R is the dropped folder without a trailing "/" (the root stays
// "/"), P the full path, which begins with R + "/" (or with "/" when R is the root). A P that ends with "/" is a
// directory entry: the worker creates that directory, so empty folders arrive too; the dropped folder has one of
// its own (P = R + "/"). Directory entries are counted, sent, resent and reported like files. Entries are stored
// and shown in this form everywhere: queue, batches, failure list and report.
//
// Contract: pure functions over local paths with "/" separators, safe on any thread. The walk runs on the main
// thread at a drop; splitUploadEntry and remoteDirectoriesOf run on the upload workers.

// Queues a dropped path. A directory is walked (its own directory entry, then CollectFolderFiles with the mask
// "*.*" and the path as root); a regular file, or a link to one, is queued as it stands. Anything else (missing,
// a FIFO, socket or device, a dangling link, a folder that cannot be read) cannot arrive and goes to rejected in
// its entry form, so that the failure report names it; nothing that a worker could block on is ever queued.
void AddDroppedPath(const QString& path, QStringList& queue, QStringList& rejected);

// Appends one entry per file and per directory below folder, at any depth, in the order the file system lists
// them; a directory's entry comes before what lies below it. Hidden files and dot files are included; "." and
// ".." are skipped. Links are followed: a link to a file is a file, and every way into a directory is walked
// under its own name, except a directory that is one of its own ancestors on the current way (a loop), which
// adds nothing. An empty mask, "*" or "*.*" admit every name. What cannot arrive goes to rejected, as in
// AddDroppedPath.
void CollectFolderFiles(QStringList& queue, QStringList& rejected, const QString& folder, const QString& mask,
                        const QString& root);

// The local file or directory of an entry and its name relative to the target directory ("site/img/logo.png"
// for a file img/logo.png below the dropped folder site; "a.txt" for a plain entry; "site/img" for the directory
// entry of img, whose local path has no trailing "/"; "site" for the dropped folder's own entry). Names may hold "<>",
// so a marker entry is split at the first "<>" after which the rest begins with the text before it plus "/"; should
// several places qualify, the first one whose local file exists wins (exists is asked only then). std::nullopt when the
// entry has no such place or names no file.
struct UploadEntryParts
{
    QString localPath;
    QString relativeName;
    bool directory = false;
};
std::optional<UploadEntryParts> splitUploadEntry(const QString& entry,
                                                 const std::function<bool(const QString&)>& exists = {});

// Whether the local side of an entry can be sent now: a regular file (or a link to one) for a file entry, a
// directory whose names can be read for a directory entry. The same rule decides at the drop.
bool isSendable(const UploadEntryParts& parts);

// The remote directories to create before putting relativeName below target (target ends with "/"): target
// plus each ancestor of the relative name, outermost first ("/www/site", "/www/site/img").
QStringList remoteDirectoriesOf(const QString& target, const QString& relativeName);

// The planned-count text of an upload and of a deletion alike: the number with the digit grouping of the user's
// locale, even where that locale would leave it out, as the C locale does ("#,##0").
QString groupedCount(qsizetype count);
