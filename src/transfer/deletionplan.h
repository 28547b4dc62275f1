#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

struct Credentials;

// Planning a remote deletion: which entries a captured "dir" listing contributes, the recursive collection of
// a directory's contents in post-order (children before their parent), and the split of a finished plan into the
// files and the directories that are removed after them.
//
// Plan entries: a file is its full remote path ("/a/b/index.html"); a directory is one space followed by its
// full remote path (" /a/b/img", or " /a/b/img/" when it was chosen in the file list). The leading space is the
// only mark of a directory; no remote path begins with a space.
//
// Contract: main thread only. CollectRemoteTree runs our command-line client once per directory and keeps
// processing events while it waits (see ftp/ftprunner.h), so the caller must expect re-entry in between.

inline constexpr int kDeleteFileMode = 0;      // each entry is a file to delete
inline constexpr int kDeleteDirectoryMode = 1; // each entry is a directory to remove

struct ListedEntry
{
    QString name;
    bool directory = false;
};

// The entries a captured "dir" transcript contributes to a plan, in the order of its lines: directory lines
// (first character "d") and file lines ("-") with their full names as the browsing parser takes them. Skipped:
// empty lines and every other line (the client's messages, replies, links), the names "." and "..", empty
// names and names holding "/" (no real entry has one; a path made from it could point outside the directory).
// A transcript whose "cd" the server refused lists some other directory, so it contributes nothing.
QList<ListedEntry> plannableEntries(const QStringList& lines);

// The plan entry of a directory: the mark followed by the path.
QString directoryEntry(const QString& path);

// The script of one planning listing: log in and list the directory given from the server's root.
QStringList collectionScript(const Credentials& credentials, const QString& path);

// Appends the plan entries of everything below path (a directory path that begins and ends with "/") to queue:
// for each listed subdirectory first everything below it, then its own entry; files as they come. The script
// file holds the password and is removed after every listing. A listing that cannot be made (no connection,
// refused "cd") contributes nothing. stopped, when given, is asked before every listing: once it answers true no
// further directory is listed and the plan stays incomplete (the caller must not carry it out).
void CollectRemoteTree(const Credentials& credentials, const QString& path, QStringList& queue,
                       const std::function<bool()>& stopped = {});

// How deep a directory lies: the number of names in its path ("/a/b" and "/a/b/" are 2, "/" is 0).
int directoryDepth(const QString& path);

// Takes the directories of the greatest depth out of directories and returns them in their order. Everything
// below a directory lies deeper, so removing the levels one after another, deepest first, removes every
// directory after everything below it while the directories of one level may go in parallel.
QStringList takeDeepestDirectories(QStringList& directories);

// A plan split for the workers. In file mode files holds the file entries and directories the directory entries
// (mark and surrounding blanks removed), both in plan order; a plan without any file is in directory mode: files
// (the list the workers consume) holds its deepest directories and directories the rest, each in plan order.
struct DeletionSplit
{
    QStringList files;
    QStringList directories;
    int mode = kDeleteFileMode;
};

DeletionSplit splitDeletionPlan(const QStringList& plan);
