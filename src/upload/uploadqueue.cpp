#include "upload/uploadqueue.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>

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

void walk(QStringList& queue, const QString& folder, const QRegularExpression* filter, const QString& root,
          QSet<QString>& visited)
{
    // Canonical paths name each real directory once, whatever links lead to it: a loop ends where it closes.
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || visited.contains(canonical))
        return;
    visited.insert(canonical);

    const QString prefix = withTrailingSlash(folder);
    QDir dir(folder);
    const QStringList names =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : names) {
        if (filter && !filter->match(name).hasMatch())
            continue;
        const QString path = prefix + name;
        if (QFileInfo(path).isDir())
            walk(queue, path, filter, root, visited);
        else
            queue.append(kMarker + root + kMarker + path);
    }
}

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

void AddDroppedPath(const QString& path, QStringList& queue)
{
    if (QFileInfo(path).isDir()) {
        const QString root = withoutTrailingSlash(path);
        CollectFolderFiles(queue, root, QStringLiteral("*.*"), root);
    } else {
        queue.append(path);
    }
}

void CollectFolderFiles(QStringList& queue, const QString& folder, const QString& mask, const QString& root)
{
    std::optional<QRegularExpression> filter;
    if (!admitsEverything(mask))
        filter = QRegularExpression(QRegularExpression::wildcardToRegularExpression(mask));
    QSet<QString> visited;
    walk(queue, folder, filter ? &*filter : nullptr, root, visited);
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
        if (folder.isEmpty() || !local.startsWith(prefix) || local.size() == prefix.size() ||
            local.endsWith(QLatin1Char('/')))
            continue;
        // The folder's own name leads; the root has none.
        const QString folderName = lastComponent(withoutTrailingSlash(folder));
        const QString below = local.mid(prefix.size());
        candidates.append({local, folderName.isEmpty() ? below : folderName + QLatin1Char('/') + below});
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
