#include "transfer/publishrecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

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
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != kFormat ||
        root.value(QStringLiteral("version")).toInt() != kVersion ||
        root.value(QStringLiteral("server")).toString().compare(server, Qt::CaseInsensitive) != 0 ||
        root.value(QStringLiteral("user")).toString() != user)
        return record;
    const QJsonObject files = root.value(QStringLiteral("files")).toObject();
    record.m_files.reserve(files.size());
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QJsonArray values = it.value().toArray();
        if (values.size() != 8 || !it.key().startsWith(QLatin1Char('/')))
            continue;
        PublishedFile entry;
        entry.sourceSize = qint64(values[0].toDouble(-1));
        entry.sourceModifiedMs = qint64(values[1].toDouble());
        entry.sha256 = values[2].toString().toLatin1();
        entry.binary = values[3].toBool();
        entry.conversion = values[4].toString();
        entry.remoteSize = qint64(values[5].toDouble(-1));
        entry.remoteModified = values[6].isNull() ? PublishedFile::kUnknownTime : qint64(values[6].toDouble());
        entry.remotePrecision = qint64(values[7].toDouble());
        if (entry.sourceSize < 0 || entry.sha256.size() != 64)
            continue;
        record.m_files.insert(it.key(), entry);
    }
    return record;
}

bool PublishRecord::write(const QString& path) const
{
    QJsonObject files;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        const PublishedFile& entry = it.value();
        files.insert(it.key(), QJsonArray{double(entry.sourceSize), double(entry.sourceModifiedMs),
                                          QString::fromLatin1(entry.sha256), entry.binary, entry.conversion,
                                          double(entry.remoteSize),
                                          entry.remoteModified == PublishedFile::kUnknownTime
                                              ? QJsonValue(QJsonValue::Null)
                                              : QJsonValue(double(entry.remoteModified)),
                                          double(entry.remotePrecision)});
    }
    const QJsonObject root{{QStringLiteral("format"), kFormat},
                           {QStringLiteral("version"), kVersion},
                           {QStringLiteral("server"), m_server},
                           {QStringLiteral("user"), m_user},
                           {QStringLiteral("files"), files}};
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
    return file.commit();
}
