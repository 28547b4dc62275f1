#include "transfer/uploadqueue.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

namespace {

const QString kMarker = QStringLiteral("<>");

QString withTrailingSlash(const QString& path)
{
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

// "/w/site/" and "/w/site" are the same folder; only the root keeps its "/".
QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

bool admitsEverything(const QString& mask)
{
    return mask.isEmpty() || mask == QLatin1String("*") || mask == QLatin1String("*.*");
}

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// A directory whose names cannot be read would lose every file in it without a word; it is reported instead.
bool isListable(const QFileInfo& info)
{
    return info.isDir() && info.isReadable() && info.isExecutable();
}

// ancestors holds the real directories on the way from the walk's start down to folder: only a directory among
// them closes a loop. Any other way into a directory (a link to a sibling, the same folder dropped twice) is
// walked again, and what lies below is queued under that way's names.
void walk(QStringList& queue, QStringList& rejected, const QString& folder, const QRegularExpression* filter,
          const QString& root, QStringList& ancestors)
{
    ancestors.append(QFileInfo(folder).canonicalFilePath());
    const QString prefix = withTrailingSlash(folder);
    QDir dir(folder);
    const QStringList names =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : names) {
        if (filter && !filter->match(name).hasMatch())
            continue;
        const QString path = prefix + name;
        const QFileInfo info(path);
        if (info.isDir()) {
            if (ancestors.contains(info.canonicalFilePath()))
                continue;
            const QString entry = kMarker + root + kMarker + path + QLatin1Char('/');
            if (!isListable(info)) {
                rejected.append(entry);
                continue;
            }
            queue.append(entry);
            walk(queue, rejected, path, filter, root, ancestors);
        } else if (info.isFile()) {
            queue.append(kMarker + root + kMarker + path);
        } else {
            // A FIFO would hold its worker forever; sockets, devices and dangling links cannot arrive either.
            rejected.append(kMarker + root + kMarker + path);
        }
    }
    ancestors.removeLast();
}

} // namespace

void AddDroppedPath(const QString& path, QStringList& queue, QStringList& rejected)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        const QString root = withoutTrailingSlash(path);
        const QString entry = kMarker + root + kMarker + withTrailingSlash(root);
        if (!isListable(info)) {
            rejected.append(entry);
            return;
        }
        // The dropped folder arrives even when empty; the root names no folder of its own.
        if (!lastComponent(root).isEmpty())
            queue.append(entry);
        CollectFolderFiles(queue, rejected, root, QStringLiteral("*.*"), root);
    } else if (info.isFile()) {
        queue.append(path);
    } else {
        // Missing, a FIFO, a socket, a device or a dangling link: nothing a worker could send.
        rejected.append(path);
    }
}

void CollectFolderFiles(QStringList& queue, QStringList& rejected, const QString& folder, const QString& mask,
                        const QString& root)
{
    std::optional<QRegularExpression> filter;
    if (!admitsEverything(mask))
        filter = QRegularExpression(QRegularExpression::wildcardToRegularExpression(mask));
    QStringList ancestors;
    walk(queue, rejected, folder, filter ? &*filter : nullptr, root, ancestors);
}

std::optional<UploadEntryParts> splitUploadEntry(const QString& entry,
                                                 const std::function<bool(const QString&)>& exists)
{
    if (!entry.startsWith(kMarker)) {
        if (entry.isEmpty() || entry.endsWith(QLatin1Char('/')))
            return std::nullopt;
        return UploadEntryParts{entry, lastComponent(entry)};
    }

    const QString rest = entry.mid(kMarker.size());
    QList<UploadEntryParts> candidates;
    for (qsizetype at = rest.indexOf(kMarker); at >= 0; at = rest.indexOf(kMarker, at + 1)) {
        const QString folder = rest.left(at);
        const QString local = rest.mid(at + kMarker.size());
        const QString prefix = withTrailingSlash(folder);
        if (folder.isEmpty() || !local.startsWith(prefix))
            continue;
        // A trailing "/" marks a directory entry; the dropped folder's own entry has nothing below its prefix.
        const bool directory = local.endsWith(QLatin1Char('/'));
        QString below = local.mid(prefix.size());
        if (directory)
            below.chop(1);
        if ((below.isEmpty() && !directory) || below.endsWith(QLatin1Char('/')))
            continue;
        // The folder's own name leads; the root has none.
        const QString folderName = lastComponent(withoutTrailingSlash(folder));
        const QString relative = folderName.isEmpty() ? below
                                 : below.isEmpty()    ? folderName
                                                      : folderName + QLatin1Char('/') + below;
        if (relative.isEmpty())
            continue;
        candidates.append({directory ? withoutTrailingSlash(local) : local, relative, directory});
    }
    if (candidates.isEmpty())
        return std::nullopt;
    if (candidates.size() > 1 && exists) {
        for (const UploadEntryParts& parts : candidates) {
            if (exists(parts.localPath))
                return parts;
        }
    }
    return candidates.first();
}

bool isSendable(const UploadEntryParts& parts)
{
    const QFileInfo info(parts.localPath);
    return parts.directory ? isListable(info) : info.isFile();
}

QStringList remoteDirectoriesOf(const QString& target, const QString& relativeName)
{
    QStringList directories;
    for (qsizetype at = relativeName.indexOf(QLatin1Char('/')); at >= 0;
         at = relativeName.indexOf(QLatin1Char('/'), at + 1))
        directories.append(target + relativeName.left(at));
    return directories;
}

QString groupedCount(qsizetype count)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(qlonglong(count));
}
