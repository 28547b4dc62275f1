#include "transfer/changeplan.h"

#include "transfer/codepage.h"
#include "transfer/uploadqueue.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <optional>

namespace {

constexpr qint64 kReadChunk = 256 * 1024;

// The true time of a listed entry lies in [seconds, seconds + precision).
bool timesOverlap(qint64 a, qint64 precisionA, qint64 b, qint64 precisionB)
{
    return a < b + qMax<qint64>(precisionB, 1) && b < a + qMax<qint64>(precisionA, 1);
}

bool sameRemoteState(const RemoteEntry& remote, const PublishedFile& record)
{
    if (remote.size != record.remoteSize)
        return false;
    if (record.remoteModified == PublishedFile::kUnknownTime || !remote.modified.isValid())
        return record.remoteModified == PublishedFile::kUnknownTime && !remote.modified.isValid();
    return timesOverlap(record.remoteModified, record.remotePrecision, remote.modified.toSecsSinceEpoch(),
                        remote.precisionSeconds);
}

} // namespace

ChangeDecision decideChange(const LocalFile& local, const PublishedFile* record, const RemoteEntry* remote)
{
    const ChangeDecision send{true, std::nullopt};
    if (!remote || remote->kind != RemoteEntry::Kind::File)
        return send;
    if (record) {
        if (record->binary != local.binary || record->conversion != local.conversion)
            return send;
        if (!sameRemoteState(*remote, *record))
            return send;
        if (local.size != record->sourceSize)
            return send;
        if (local.modifiedMs == record->sourceModifiedMs)
            return {false, std::nullopt};
        // Touched, perhaps not changed: the content decides.
        const QByteArray sha = local.sha256 ? local.sha256() : QByteArray();
        if (sha.isEmpty() || sha != record->sha256)
            return send;
        PublishedFile touched = *record;
        touched.sourceModifiedMs = local.modifiedMs;
        return {false, touched};
    }
    if (!remote->modified.isValid() || remote->size < 0)
        return send;
    const qint64 remoteLatestMs =
        (remote->modified.toSecsSinceEpoch() + qMax<qint64>(remote->precisionSeconds, 1)) * 1000;
    if (local.modifiedMs >= remoteLatestMs)
        return send; // the server's copy is older than the source
    bool sizeMatches = remote->size == local.size;
    if (!local.binary) {
        const auto [lf, crlf] = local.textSizes ? local.textSizes() : std::pair<qint64, qint64>{-1, -1};
        sizeMatches = lf >= 0 && (remote->size == lf || remote->size == crlf);
    }
    if (!sizeMatches)
        return send;
    const QByteArray sha = local.sha256 ? local.sha256() : QByteArray();
    if (sha.isEmpty())
        return send;
    return {false, PublishedFile{local.size, local.modifiedMs, sha, local.binary, local.conversion, remote->size,
                                 remote->modified.toSecsSinceEpoch(), remote->precisionSeconds}};
}

QByteArray fileSha256(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hash.result().toHex();
}

std::pair<qint64, qint64> textFormSizes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {-1, -1};
    qint64 bytes = 0;
    qint64 crlf = 0;   // CR LF pairs, which the LF form loses a byte of each
    qint64 bareLf = 0; // LF without CR, which the CR LF form gains a byte for
    bool lastWasCr = false;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(kReadChunk);
        if (chunk.isEmpty() && file.error() != QFileDevice::NoError)
            return {-1, -1};
        bytes += chunk.size();
        for (const char c : chunk) {
            if (c == '\n') {
                if (lastWasCr)
                    ++crlf;
                else
                    ++bareLf;
            }
            lastWasCr = c == '\r';
        }
    }
    return {bytes - crlf, bytes + bareLf};
}

QStringList directoriesToCompare(const QStringList& entries, const QString& target)
{
    QStringList directories;
    QSet<QString> seen;
    for (const QString& entry : entries) {
        const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); });
        if (!parts)
            continue;
        const QString remote = target + parts->relativeName;
        const QString directory = remote.left(remote.lastIndexOf(QLatin1Char('/')) + 1);
        if (!seen.contains(directory)) {
            seen.insert(directory);
            directories.append(directory);
        }
    }
    return directories;
}

QStringList directoriesLeftToList(const QStringList& wanted, const QList<RemoteDirectoryListing>& listings)
{
    QSet<QString> listed;
    QSet<QString> missing;
    QHash<QString, const RemoteDirectoryListing*> byPath;
    for (const RemoteDirectoryListing& listing : listings) {
        listed.insert(listing.path);
        byPath.insert(listing.path, &listing);
        if (!listing.listed)
            missing.insert(listing.path);
    }
    const auto knownMissing = [&](const QString& directory) {
        // each ancestor from the outermost: missing itself, or listed without the next one in it
        for (qsizetype at = directory.indexOf(QLatin1Char('/'), 1); at > 0;
             at = directory.indexOf(QLatin1Char('/'), at + 1)) {
            const QString path = directory.left(at + 1);
            const QString parent = path.left(path.lastIndexOf(QLatin1Char('/'), path.size() - 2) + 1);
            if (missing.contains(path))
                return true;
            const auto found = byPath.constFind(parent);
            if (found == byPath.cend() || !(*found)->listed)
                continue;
            const QString name = path.mid(parent.size(), path.size() - parent.size() - 1);
            const bool there =
                std::any_of((*found)->entries.cbegin(), (*found)->entries.cend(), [&name](const auto& e) {
                    return e.name == name && e.kind == RemoteEntry::Kind::Directory;
                });
            if (!there)
                return true;
        }
        return false;
    };
    QStringList left;
    for (const QString& directory : wanted) {
        if (!listed.contains(directory) && !knownMissing(directory))
            left.append(directory);
    }
    return left;
}

QStringList directoriesPublishedInto(const QStringList& wanted, const QHash<QString, PublishedFile>& record)
{
    const QSet<QString> wantedSet(wanted.cbegin(), wanted.cend());
    QSet<QString> seen; // directories walked up from already: their ancestors were walked too
    QSet<QString> found;
    for (auto it = record.keyBegin(); it != record.keyEnd(); ++it) {
        QString directory = it->left(it->lastIndexOf(QLatin1Char('/')) + 1);
        while (!directory.isEmpty() && !seen.contains(directory)) {
            seen.insert(directory);
            if (wantedSet.contains(directory))
                found.insert(directory);
            directory.truncate(directory.lastIndexOf(QLatin1Char('/'), directory.size() - 2) + 1);
        }
    }
    QStringList result;
    for (const QString& directory : wanted)
        if (found.contains(directory))
            result.append(directory);
    return result;
}

namespace {

LocalFacts readFacts(const QString& localPath, int transferMode)
{
    LocalFacts facts;
    const QFileInfo info(localPath);
    facts.isFile = info.isFile();
    if (!facts.isFile)
        return facts;
    facts.size = info.size();
    facts.modifiedMs = info.lastModified().toMSecsSinceEpoch();
    facts.binary = transferMode == 2   ? std::optional<bool>(true)
                   : transferMode == 1 ? std::optional<bool>(false)
                                       : IsBinaryFile(localPath);
    return facts;
}

} // namespace

QHash<QString, LocalFacts> readLocalFacts(const ChangeComparisonInput& input, const std::function<bool()>& stopped)
{
    QHash<QString, LocalFacts> result;
    for (const QString& entry : input.entries) {
        if (stopped && stopped())
            break;
        const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); });
        if (!parts || parts->directory)
            continue;
        LocalFacts facts = readFacts(parts->localPath, input.transferMode);
        if (facts.isFile && facts.binary) {
            const auto recorded = input.record.constFind(input.target + parts->relativeName);
            if (recorded == input.record.cend() || recorded->sourceSize != facts.size ||
                recorded->sourceModifiedMs != facts.modifiedMs)
                facts.sha256 = fileSha256(parts->localPath);
        }
        result.insert(entry, std::move(facts));
    }
    return result;
}

ChangeComparisonResult compareWithServer(const ChangeComparisonInput& input, const std::function<bool()>& stopped)
{
    ChangeComparisonResult result;
    QHash<QString, QHash<QString, const RemoteEntry*>> byDirectory;
    for (const RemoteDirectoryListing& listing : input.listings) {
        if (!listing.listed)
            continue;
        QHash<QString, const RemoteEntry*>& names = byDirectory[listing.path];
        for (const RemoteEntry& entry : listing.entries) {
            names.insert(entry.name, &entry);
            if (entry.kind == RemoteEntry::Kind::File && entry.name.startsWith(kTemporaryUploadPrefix))
                result.leftovers.append(listing.path + entry.name);
        }
    }

    for (const QString& entry : input.entries) {
        if (stopped && stopped())
            break;
        const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); });
        if (!parts) {
            result.toSend.append(entry); // the worker fails it, and the report names it
            continue;
        }
        const QString remotePath = input.target + parts->relativeName;
        const qsizetype slash = remotePath.lastIndexOf(QLatin1Char('/'));
        const auto directory = byDirectory.constFind(remotePath.left(slash + 1));
        const RemoteEntry* remote =
            directory == byDirectory.cend() ? nullptr : directory->value(remotePath.mid(slash + 1), nullptr);
        if (parts->directory) {
            if (!remote || remote->kind != RemoteEntry::Kind::Directory)
                result.toSend.append(entry);
            continue;
        }
        const auto known = input.localFacts.constFind(entry);
        const LocalFacts facts =
            known != input.localFacts.cend() ? *known : readFacts(parts->localPath, input.transferMode);
        if (!facts.isFile || !facts.binary) {
            result.toSend.append(entry);
            continue;
        }
        LocalFile local;
        local.size = facts.size;
        local.modifiedMs = facts.modifiedMs;
        local.binary = *facts.binary;
        local.conversion = input.encodingName;
        std::optional<QByteArray> sha;
        if (!facts.sha256.isEmpty())
            sha = facts.sha256;
        local.sha256 = [&sha, &parts] {
            if (!sha)
                sha = fileSha256(parts->localPath);
            return *sha;
        };
        local.textSizes = [&input, &parts] {
            if (input.encodingName.isEmpty())
                return textFormSizes(parts->localPath);
            // Measured on the bytes the conversion gives, then thrown away; the worker converts again.
            const QString copy = input.dataDirectory + QStringLiteral("/m_") +
                                 QString::number(QRandomGenerator::global()->generate64(), 16);
            std::pair<qint64, qint64> sizes{-1, -1};
            if (ConvertCodePage(parts->localPath, copy, input.encodingName) != ConvertResult::Failed)
                sizes = textFormSizes(copy);
            QFile::remove(copy);
            return sizes;
        };
        const auto recorded = input.record.constFind(remotePath);
        const ChangeDecision decision =
            decideChange(local, recorded == input.record.cend() ? nullptr : &*recorded, remote);
        if (decision.send) {
            result.toSend.append(entry);
            result.pending.insert(
                entry, PublishedFile{local.size, local.modifiedMs, local.sha256(), local.binary, local.conversion});
            if (remote && remote->kind == RemoteEntry::Kind::File)
                result.existing.insert(remotePath);
            continue;
        }
        ++result.unchanged;
        if (decision.recordEntry)
            result.recordUpdates.insert(remotePath, *decision.recordEntry);
    }
    return result;
}
