#pragma once

#include "ftp/credentials.h"
#include "ftp/ftpsession.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One entry of a listed directory, as the server showed it.
struct RemoteEntry
{
    enum class Kind
    {
        File,
        Directory,
        Other // links and special files; "." and ".." are never entries
    };
    QString name;
    Kind kind = Kind::Other;
    qint64 size = -1;            // -1: unknown
    QDateTime modified;          // UTC; invalid when unknown
    qint64 precisionSeconds = 0; // the true time lies in [modified, modified + precision): 1 (MLSD "modify"),
                                 // 60 (LIST with a time of day), 86400 (LIST with a year or a date only)
    QString line;                // the raw LIST line the entry came from (empty for MLSD)
};

struct RemoteDirectoryListing
{
    QString path;               // as asked: absolute, begins and ends with "/" ("/" for the root)
    bool listed = false;        // false: refused (no such directory, 550), not reached, or stopped before it
    QList<RemoteEntry> entries; // in the server's order
    QStringList lines;          // LIST: every raw line of the data connection, for the browsing parser
};

enum class ListingCommand
{
    Best, // MLSD when the server's FEAT offers it (MLST), else LIST
    List
};

// What a LIST line's date text ("Jul 25 15:01", "May 10 1996", "2012-02-07 00:31", "2020-07-21 23:45:56.4 -0400")
// says of the time, read as UTC (servers print their local time; most print UTC), with the precision it has:
// 86400 for a year or a bare date, 60 for hours and minutes, 1 with seconds. A month-and-day date without a year
// is in the year that puts it no more than a day after `now`. nullopt for a text of no such shape.
struct ListingTime
{
    QDateTime modified;
    qint64 precisionSeconds = 0;
};
std::optional<ListingTime> listingTime(const QString& dateText, const QDateTime& now = QDateTime::currentDateTimeUtc());

// Reads one MLSD line ("type=file;size=12;modify=20240102030405; name"); nullopt for "." / ".." (cdir, pdir) and
// for a line without "; " before the name.
std::optional<RemoteEntry> mlsdEntry(const QString& line);
// Reads one LIST line; nullopt for lines that are no entry ("total 12", ".", "..", a size that is not a number).
std::optional<RemoteEntry> listEntry(const QString& line, const QDateTime& now = QDateTime::currentDateTimeUtc());

// Lists directories over up to maxConnections FtpSessions, each on a thread of its own, each logged in once and
// kept (connection and thread) for later calls until close() or destruction; a connection the server closed is
// made anew by the next listing (a listing that got no answer is tried once more on a new connection).
//
// Contract: constructed, called and destroyed on the main thread. list() hands the paths out to the connections
// one at a time (each connection takes the next path when it is done with one, in a blocking queued call on the
// main thread, which is where the results are kept), keeps processing events while it waits (QEventLoop), asks
// `stopped` at least every 50 ms and on true hands out no more paths; a listing under way then still finishes,
// bounded by the session's time-outs. Returns the results in the order of `paths`, the ones not listed with
// listed false. One connection per path at most: a call with three paths opens no more than three. Never throws
// (a line that does not parse is skipped). The same lister serves SFTP through the same session calls (its
// listings are LIST-shaped lines).
class RemoteLister
{
public:
    explicit RemoteLister(Credentials credentials, int maxConnections = 10,
                          ListingCommand command = ListingCommand::Best,
                          std::optional<FtpTimeouts> timeouts = std::nullopt);
    ~RemoteLister();
    RemoteLister(const RemoteLister&) = delete;
    RemoteLister& operator=(const RemoteLister&) = delete;

    QList<RemoteDirectoryListing> list(const QStringList& paths, const std::function<bool()>& stopped = {});
    // From the next list() on, a path names a directory below the login directory ("/" is the login directory
    // itself, "/www/" its www), as the browser's paths do; by default a path is taken from the server's root.
    // The results keep the paths as asked.
    void setPathsBelowLoginDirectory(bool below) { m_belowLoginDirectory = below; }
    // Takes over a logged-in session (moves it out of the argument) as one more connection, so that a later list()
    // finds it ready; the session then lives on the connection's thread. A worker whose own work has ended hands
    // its connection over this way, and the server sees no more connections at a time than before. Takes nothing
    // once maxConnections are open. Main thread; the session must not be in use elsewhere.
    void adopt(std::unique_ptr<FtpSession>& session);
    // Whether the server offers MLSD, once a connection's FEAT has told (or a caller that knew it set it); later
    // logins then send no FEAT. nullopt while unknown.
    std::optional<bool> offersMlsd() const;
    void setOffersMlsd(bool offered) { m_mlsd = offered ? 1 : 0; }
    // QUIT on every connection, threads ended; waits keeping events processed.
    void close();
    // Logins made so far by this lister's connections (for tests and the benchmark).
    int connectionsOpened() const { return m_logins; }

private:
    struct Connection;
    struct Round;
    void addConnection(std::unique_ptr<FtpSession> adopted = {});
    void runConnection(Connection* connection);
    // On the main thread, for a connection: takes its last result, and gives the index of its next path or -1.
    int exchange(std::optional<std::pair<int, RemoteDirectoryListing>> done, int loginsMade);

    Credentials m_credentials;
    int m_maxConnections;
    ListingCommand m_command;
    std::optional<FtpTimeouts> m_timeouts;
    std::atomic<bool> m_belowLoginDirectory = false;
    std::atomic<int> m_mlsd = -1; // -1 unknown, 0 no, 1 yes
    QObject m_context;            // lives on the main thread: the target of the connections' blocking calls
    std::vector<std::unique_ptr<Connection>> m_connections;
    Round* m_round = nullptr;
    int m_logins = 0;
};
