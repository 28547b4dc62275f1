#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <limits>
#include <utility>

// What PELNO sent of one file, and what the server showed of it afterwards.
struct PublishedFile
{
    static constexpr qint64 kUnknownTime = std::numeric_limits<qint64>::min();

    qint64 sourceSize = -1;
    qint64 sourceModifiedMs = 0; // milliseconds since the epoch, UTC
    QByteArray sha256;           // of the source, in hex
    bool binary = false;         // the transfer type it went with
    QString conversion;          // the charset it was converted to; empty: sent as it is
    qint64 remoteSize = -1;
    qint64 remoteModified = kUnknownTime; // seconds since the epoch, UTC, as the listing showed it
    qint64 remotePrecision = 0;           // of remoteModified, in seconds
};

// The record of what was published to one account on one server, so that a later drop sends only what changed.
//
// Contract (main thread): a file per server and user in the program's data folder, its entries keyed by the
// file's absolute remote path. read() never fails: a missing, empty, damaged or cut-short file, or one written for
// another server or user, reads as an empty record. write() replaces the file whole and atomically (QSaveFile),
// owner readable only; it never holds a password. The file is JSON with one line per entry, so that neither side
// holds a document of all entries at once.
class PublishRecord
{
public:
    PublishRecord() = default;
    PublishRecord(QString server, QString user) : m_server(std::move(server)), m_user(std::move(user)) {}

    // The record's file for this server and user below dataDirectory.
    static QString filePath(const QString& dataDirectory, const QString& server, const QString& user);
    static PublishRecord read(const QString& path, const QString& server, const QString& user);
    // False when the file could not be written; the old file then stays as it was.
    bool write(const QString& path) const;

    QHash<QString, PublishedFile>& files() { return m_files; }
    const QHash<QString, PublishedFile>& files() const { return m_files; }

private:
    QString m_server;
    QString m_user;
    QHash<QString, PublishedFile> m_files;
};
