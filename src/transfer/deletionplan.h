#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <QHash>

#include <functional>

class RemoteLister;

// Planning a remote deletion: which entries a directory's LIST lines contribute, the listing of the chosen trees
// breadth first over parallel connections, the plan built from those listings in post-order (children before
// their parent), and the split of a finished plan into the files and the directories that are removed after them.
//
// Plan entries: a file is its full remote path ("/a/b/index.html"); a directory is one space followed by its
// full remote path (" /a/b/img", or " /a/b/img/" when it was chosen in the file list). The leading space is the
// only mark of a directory; no remote path begins with a space.
//
// Contract: main thread only. ListRemoteTrees keeps processing events while the listings run (see
// ftp/remotelister.h), so the caller must expect re-entry in between.

inline constexpr int kDeleteFileMode = 0;      // each entry is a file to delete
inline constexpr int kDeleteDirectoryMode = 1; // each entry is a directory to remove

struct ListedEntry
{
    QString name;
    bool directory = false;
};

// The entries that the lines of a directory's listing contribute to a plan, in the order of the lines: directory
// lines (first character "d") and file lines ("-") with their full names as the browsing parser takes them.
// Skipped: empty lines and every other line (links, a "total" line, the client's messages and replies when the
// lines are a captured transcript), the names "." and "..", empty names and names holding "/" (no real entry has
// one; a path made from it could point outside the directory). A transcript whose "cd" the server refused lists
// some other directory, so it contributes nothing.
QList<ListedEntry> plannableEntries(const QStringList& lines);

// The plan entry of a directory: the mark followed by the path.
QString directoryEntry(const QString& path);

// What the listings of a plan found: for each directory listed (its path begins and ends with "/"), its plannable
// entries. A directory that could not be listed is not in it.
using RemoteTreeListings = QHash<QString, QList<ListedEntry>>;

// Lists each of roots (directory paths that begin and end with "/") and everything below them, breadth first:
// all directories of one level at once over the lister's connections (LIST, so that the entries and their order
// are those of the server's long listing), the next level made of the subdirectories they held. A listing that
// cannot be made (no connection, a refused directory) contributes nothing and nothing below it is listed.
// stopped, when given, is asked while the listings run: once it answers true no further directory is listed and
// false is returned, the listings incomplete (the caller must not plan from them).
bool ListRemoteTrees(RemoteLister& lister, const QStringList& roots, RemoteTreeListings& listings,
                     const std::function<bool()>& stopped = {});

// Appends the plan entries of everything below path (a directory path that begins and ends with "/") to queue,
// from the listings: for each listed subdirectory first everything below it, then its own entry; files as they
// come. The order depends on the listings alone, never on the order in which they arrived.
void CollectRemoteTree(const RemoteTreeListings& listings, const QString& path, QStringList& queue);

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
