#include "transfer/deletionplan.h"

#include "ftp/listingparser.h"
#include "ftp/remotelister.h"

#include <algorithm>

QList<ListedEntry> plannableEntries(const QStringList& lines)
{
    QList<ListedEntry> entries;
    // After a refused "cd" a client lists the directory it is still in; taking those entries as children would
    // delete the wrong files and, with subdirectories there, recurse without end.
    if (transcriptShowsRefusedCd(lines))
        return entries;
    for (const QString& line : lines) {
        if (line.isEmpty())
            continue;
        const QChar kind = line.at(0);
        if (kind != QLatin1Char('d') && kind != QLatin1Char('-'))
            continue;
        const QString name = ListingEntryName(line);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
            name.contains(QLatin1Char('/')))
            continue;
        entries.append({name, kind == QLatin1Char('d')});
    }
    return entries;
}

QString directoryEntry(const QString& path)
{
    return QLatin1Char(' ') + path;
}

bool ListRemoteTrees(RemoteLister& lister, const QStringList& roots, RemoteTreeListings& listings,
                     const std::function<bool()>& stopped)
{
    QStringList level = roots;
    while (!level.isEmpty()) {
        if (stopped && stopped())
            return false;
        const QList<RemoteDirectoryListing> results = lister.list(level, stopped);
        // A stop may have come after the last listing was handed out: the listings are complete then, but the
        // user asked for no deletion.
        if (stopped && stopped())
            return false;
        QStringList next;
        for (const RemoteDirectoryListing& result : results) {
            if (!result.listed)
                continue;
            const QList<ListedEntry> entries = plannableEntries(result.lines);
            for (const ListedEntry& entry : entries)
                if (entry.directory)
                    next.append(result.path + entry.name + QLatin1Char('/'));
            listings.insert(result.path, entries);
        }
        level.swap(next);
    }
    return true;
}

void CollectRemoteTree(const RemoteTreeListings& listings, const QString& path, QStringList& queue)
{
    const auto listed = listings.constFind(path);
    if (listed == listings.constEnd())
        return;
    for (const ListedEntry& entry : *listed) {
        if (entry.directory) {
            CollectRemoteTree(listings, path + entry.name + QLatin1Char('/'), queue);
            queue.append(directoryEntry(path + entry.name));
        } else {
            queue.append(path + entry.name);
        }
    }
}

int directoryDepth(const QString& path)
{
    const QStringList names = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return int(names.size());
}

QStringList takeDeepestDirectories(QStringList& directories)
{
    int deepest = -1;
    for (const QString& directory : std::as_const(directories))
        deepest = std::max(deepest, directoryDepth(directory));
    QStringList taken;
    QStringList rest;
    for (const QString& directory : std::as_const(directories))
        (directoryDepth(directory) == deepest ? taken : rest).append(directory);
    directories.swap(rest);
    return taken;
}

DeletionSplit splitDeletionPlan(const QStringList& plan)
{
    DeletionSplit split;
    for (const QString& entry : plan) {
        if (entry.startsWith(QLatin1Char(' ')))
            split.directories.append(trimmedBlanks(entry));
        else
            split.files.append(entry);
    }
    // Without files there is nothing to wait for: the deepest directories go to the workers at once.
    if (split.files.isEmpty()) {
        split.files = takeDeepestDirectories(split.directories);
        split.mode = kDeleteDirectoryMode;
    }
    return split;
}
