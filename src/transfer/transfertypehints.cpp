#include "transfer/transfertypehints.h"

#include <QMutexLocker>

#include <algorithm>
#include <array>

namespace {

// The suffix of the path's last component, lower-case ("png" for "img/Logo.PNG"); empty for a name without one
// and for a name that only begins with a dot. A directory entry ends with "/" and has none.
std::optional<QString> suffixOf(const QString& path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return std::nullopt;
    const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= nameStart)
        return QString();
    return path.mid(dot + 1).toLower();
}

} // namespace

void TransferTypeHints::note(const QString& localPath, bool binary)
{
    const std::optional<QString> suffix = suffixOf(localPath);
    if (!suffix)
        return;
    QMutexLocker lock(&m_mutex);
    m_seen[*suffix] |= binary ? Binary : Ascii;
}

std::optional<bool> TransferTypeHints::predictLocked(const QString& entry) const
{
    // Every entry form ends with the local path of its file.
    const std::optional<QString> suffix = suffixOf(entry);
    if (!suffix)
        return std::nullopt;
    switch (m_seen.value(*suffix)) {
    case Ascii:
        return false;
    case Binary:
        return true;
    default:
        return std::nullopt;
    }
}

void TransferTypeHints::bringForward(QStringList& queue, qsizetype limit, bool binary) const
{
    const qsizetype window = std::min(queue.size(), kWindow);
    if (limit <= 0 || window == 0)
        return;
    // 0: predicted to need the worker's type, 1: no prediction, 2: the other type
    std::array<QList<qsizetype>, 3> ranked;
    {
        QMutexLocker lock(&m_mutex);
        // A round with a fixed type, or one whose first files are still being sniffed, keeps the queue's order.
        if (m_seen.isEmpty())
            return;
        for (qsizetype i = 0; i < window; ++i) {
            const std::optional<bool> predicted = predictLocked(queue[i]);
            ranked[!predicted ? 1 : *predicted == binary ? 0 : 2].append(i);
        }
    }
    QList<bool> chosen(window, false);
    QStringList batch;
    for (const QList<qsizetype>& group : ranked) {
        for (qsizetype i : group) {
            if (batch.size() == limit)
                break;
            chosen[i] = true;
            batch.append(queue[i]);
        }
    }
    QStringList rest;
    rest.reserve(window - batch.size());
    for (qsizetype i = 0; i < window; ++i) {
        if (!chosen[i])
            rest.append(queue[i]);
    }
    const QStringList head = batch + rest;
    for (qsizetype i = 0; i < window; ++i)
        queue[i] = head[i];
}
