#include "transfer/deletionplan.h"

#include "ftp/credentials.h"
#include "ftp/ftprunner.h"
#include "ftp/listingparser.h"

#include <algorithm>

QList<ListedEntry> plannableEntries(const QStringList& lines)
{
    QList<ListedEntry> entries;
    // After a refused "cd" the client lists the directory it is still in; taking those entries as children
    // would delete the wrong files and, with subdirectories there, recurse without end.
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

QStringList collectionScript(const Credentials& credentials, const QString& path)
{
    // The path keeps both its slashes: the "cd" names the directory from the server's root, the same path the
    // delete operations receive.
    return {QStringLiteral("open ") + credentials.server, credentials.userId, credentials.password,
            QStringLiteral("cd ") + path, QStringLiteral("dir")};
}

void CollectRemoteTree(const Credentials& credentials, const QString& path, QStringList& queue,
                       const std::function<bool()>& stopped)
{
    if (stopped && stopped())
        return;
    // A script that cannot be written is not run, and no stale script can list another directory in its place;
    // the listing then contributes nothing.
    QString output;
    runFtpScriptFile(collectionScript(credentials, path), output, credentials.settings);

    const QList<ListedEntry> entries = plannableEntries(splitListingOutput(output));
    for (const ListedEntry& entry : entries) {
        if (entry.directory) {
            CollectRemoteTree(credentials, path + entry.name + QLatin1Char('/'), queue, stopped);
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
