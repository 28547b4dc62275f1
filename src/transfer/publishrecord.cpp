#include "transfer/publishrecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

namespace {

const QString kFormat = QStringLiteral("pelno publish record");
constexpr int kVersion = 1;

} // namespace

QString PublishRecord::filePath(const QString& dataDirectory, const QString& server, const QString& user)
{
    // Names and addresses may hold anything: the file is named by a digest, and the file itself says whose it is.
    const QByteArray key = server.toLower().toUtf8() + '\n' + user.toUtf8();
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32);
    return dataDirectory + QStringLiteral("/published-") + QString::fromLatin1(digest) + QStringLiteral(".json");
}

PublishRecord PublishRecord::read(const QString& path, const QString& server, const QString& user)
{
    PublishRecord record(server, user);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return record;
    // One line of header, one line per file, and the closing line: each line is read and parsed alone, so the
    // memory a large record needs is its entries, not a document of them.
    QByteArray header = file.readLine();
    if (!header.endsWith("[\n"))
        return record;
    header.chop(1);
    const QJsonObject root = QJsonDocument::fromJson(header + "]}").object();
    if (root.value(QStringLiteral("format")).toString() != kFormat ||
        root.value(QStringLiteral("version")).toInt() != kVersion ||
        root.value(QStringLiteral("server")).toString().compare(server, Qt::CaseInsensitive) != 0 ||
        root.value(QStringLiteral("user")).toString() != user)
        return record;
    QHash<QString, PublishedFile> files;
    QSet<QString> conversions; // a few names, shared by every entry
    bool closed = false;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line == "]}\n" || line == "]}") {
            closed = true;
            break;
        }
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith(','))
            line.chop(1);
        QJsonParseError error;
        const QJsonArray values = QJsonDocument::fromJson(line, &error).array();
        if (error.error != QJsonParseError::NoError || values.size() != 9)
            return record;
        const QString remotePath = values[0].toString();
        PublishedFile entry;
        entry.sourceSize = qint64(values[1].toDouble(-1));
        entry.sourceModifiedMs = qint64(values[2].toDouble());
        entry.sha256 = values[3].toString().toLatin1();
        entry.binary = values[4].toBool();
        const QString conversion = values[5].toString();
        entry.conversion = *conversions.insert(conversion);
        entry.remoteSize = qint64(values[6].toDouble(-1));
        entry.remoteModified = values[7].isNull() ? PublishedFile::kUnknownTime : qint64(values[7].toDouble());
        entry.remotePrecision = qint64(values[8].toDouble());
        if (!remotePath.startsWith(QLatin1Char('/')) || entry.sourceSize < 0 || entry.sha256.size() != 64)
            return record;
        files.insert(remotePath, entry);
    }
    // A file cut short is damaged: none of it counts.
    if (closed)
        record.m_files = std::move(files);
    return record;
}

bool PublishRecord::write(const QString& path) const
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QByteArray header = QJsonDocument(QJsonObject{{QStringLiteral("format"), kFormat},
                                                  {QStringLiteral("version"), kVersion},
                                                  {QStringLiteral("server"), m_server},
                                                  {QStringLiteral("user"), m_user}})
                            .toJson(QJsonDocument::Compact);
    header.chop(1); // the closing brace: the files follow
    file.write(header + ",\"files\":[\n");
    qsizetype left = m_files.size();
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        const PublishedFile& entry = it.value();
        const QJsonArray values{it.key(),
                                double(entry.sourceSize),
                                double(entry.sourceModifiedMs),
                                QString::fromLatin1(entry.sha256),
                                entry.binary,
                                entry.conversion,
                                double(entry.remoteSize),
                                entry.remoteModified == PublishedFile::kUnknownTime
                                    ? QJsonValue(QJsonValue::Null)
                                    : QJsonValue(double(entry.remoteModified)),
                                double(entry.remotePrecision)};
        file.write(QJsonDocument(values).toJson(QJsonDocument::Compact) + (--left > 0 ? ",\n" : "\n"));
    }
    file.write("]}\n");
    return file.commit();
}
