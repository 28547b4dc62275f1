#include "ftp/remotelister.h"

#include "ftp/ftpconnection.h"
#include "ftp/listingparser.h"
#include "settings/apperror.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <utility>

namespace {

constexpr qint64 kDay = 86400;

int monthOf(const QString& name)
{
    static const QStringList months{"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    return int(months.indexOf(name.left(3).toLower())) + 1;
}

// "15:01", "9:05", "23:45:56", "23:45:56.477817180": the time and whether seconds were shown.
std::optional<std::pair<QTime, bool>> timeOfDay(const QString& text)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:\\.\\d+)?)?$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const bool seconds = match.hasCaptured(3);
    const QTime time(match.captured(1).toInt(), match.captured(2).toInt(), seconds ? match.captured(3).toInt() : 0);
    if (!time.isValid())
        return std::nullopt;
    return std::make_pair(time, seconds);
}

QDateTime utc(QDate date, QTime time = QTime(0, 0))
{
    return QDateTime(date, time, Qt::UTC);
}

QStringList linesOf(const QByteArray& data)
{
    QStringList lines;
    for (QByteArray line : data.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            lines << QString::fromUtf8(line);
    }
    return lines;
}

bool featOffersMlsd(const QByteArray& featReply)
{
    // MLST in FEAT announces MLSD as well; feature lines start with a space.
    for (const QByteArray& line : featReply.split('\n')) {
        const QByteArray feature = line.trimmed().toUpper();
        if (line.startsWith(' ') && (feature == "MLST" || feature.startsWith("MLST ") || feature == "MLSD"))
            return true;
    }
    return false;
}

// The directory a listing changes into: the path itself, or the path below the login directory.
QString directoryToList(const QString& path, const QString& loginDirectory, bool belowLoginDirectory)
{
    if (!belowLoginDirectory || loginDirectory.isEmpty() || loginDirectory == QLatin1String("/"))
        return path;
    QString base = loginDirectory;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + path;
}

// "/www/" and "/www" are one directory.
bool sameDirectory(const QString& a, const QString& b)
{
    const auto trimmed = [](QString path) {
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        return path;
    };
    return !a.isEmpty() && !b.isEmpty() && trimmed(a) == trimmed(b);
}

} // namespace

std::optional<ListingTime> listingTime(const QString& dateText, const QDateTime& now)
{
    const QStringList tokens = dateText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (tokens.size() == 3 && monthOf(tokens[0]) > 0) {
        const int month = monthOf(tokens[0]);
        const int day = tokens[1].toInt();
        if (tokens[2].size() == 4 && !tokens[2].contains(QLatin1Char(':'))) {
            const QDate date(tokens[2].toInt(), month, day);
            if (!date.isValid())
                return std::nullopt;
            return ListingTime{utc(date), kDay};
        }
        const auto time = timeOfDay(tokens[2]);
        if (!time)
            return std::nullopt;
        // No year: the most recent one that does not put the entry more than a day into the future.
        for (int year = now.date().year() + 1; year >= now.date().year() - 4; --year) {
            const QDate date(year, month, day);
            if (date.isValid() && utc(date, time->first) <= now.addSecs(kDay))
                return ListingTime{utc(date, time->first), time->second ? 1 : 60};
        }
        return std::nullopt;
    }
    if (tokens.isEmpty() || tokens.size() > 3)
        return std::nullopt;
    const QDate date = QDate::fromString(tokens[0], QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid())
        return std::nullopt;
    if (tokens.size() == 1)
        return ListingTime{utc(date), kDay};
    const auto time = timeOfDay(tokens[1]);
    if (!time)
        return std::nullopt;
    QDateTime modified = utc(date, time->first);
    if (tokens.size() == 3) {
        static const QRegularExpression zone(QStringLiteral("^([+-])(\\d{2})(\\d{2})$"));
        const QRegularExpressionMatch match = zone.match(tokens[2]);
        if (!match.hasMatch())
            return std::nullopt;
        const int offset = (match.captured(2).toInt() * 60 + match.captured(3).toInt()) * 60;
        modified = modified.addSecs(match.captured(1) == QLatin1String("-") ? offset : -offset);
    }
    return ListingTime{modified, time->second ? 1 : 60};
}

std::optional<RemoteEntry> mlsdEntry(const QString& line)
{
    const qsizetype separator = line.indexOf(QLatin1String("; "));
    if (separator < 0)
        return std::nullopt;
    RemoteEntry entry;
    entry.name = line.mid(separator + 2);
    if (entry.name.isEmpty())
        return std::nullopt;
    for (const QString& fact : line.left(separator).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = fact.section(QLatin1Char('='), 0, 0).toLower();
        const QString value = fact.section(QLatin1Char('='), 1);
        if (key == QLatin1String("type")) {
            const QString type = value.toLower();
            if (type == QLatin1String("cdir") || type == QLatin1String("pdir"))
                return std::nullopt;
            entry.kind = type == QLatin1String("file")  ? RemoteEntry::Kind::File
                         : type == QLatin1String("dir") ? RemoteEntry::Kind::Directory
                                                        : RemoteEntry::Kind::Other;
        } else if (key == QLatin1String("size")) {
            bool ok = false;
            const qint64 size = value.toLongLong(&ok);
            entry.size = ok && size >= 0 ? size : -1;
        } else if (key == QLatin1String("modify") && value.size() >= 14) {
            const QDate date = QDate::fromString(value.left(8), QStringLiteral("yyyyMMdd"));
            const QTime time = QTime::fromString(value.mid(8, 6), QStringLiteral("HHmmss"));
            if (date.isValid() && time.isValid()) {
                entry.modified = utc(date, time);
                entry.precisionSeconds = 1;
            }
        }
    }
    if (entry.name == QLatin1String(".") || entry.name == QLatin1String(".."))
        return std::nullopt;
    return entry;
}

std::optional<RemoteEntry> listEntry(const QString& line, const QDateTime& now)
{
    static const QString kinds = QStringLiteral("-dlbcps");
    if (line.isEmpty() || !kinds.contains(line.at(0)))
        return std::nullopt;
    TrecFileData record;
    try {
        ParseListingLine(record, line);
    } catch (const AppError&) {
        return std::nullopt;
    }
    if (record.DateText.isEmpty() || record.Name.isEmpty())
        return std::nullopt;
    RemoteEntry entry;
    entry.line = line;
    entry.name = record.Name;
    entry.size = record.Size;
    const QChar type = line.at(0);
    entry.kind = type == QLatin1Char('-')   ? RemoteEntry::Kind::File
                 : type == QLatin1Char('d') ? RemoteEntry::Kind::Directory
                                            : RemoteEntry::Kind::Other;
    if (type == QLatin1Char('l')) {
        const qsizetype arrow = entry.name.indexOf(QLatin1String(" -> "));
        if (arrow > 0)
            entry.name.truncate(arrow);
    }
    if (entry.name == QLatin1String(".") || entry.name == QLatin1String(".."))
        return std::nullopt;
    if (const auto time = listingTime(record.DateText, now)) {
        entry.modified = time->modified;
        entry.precisionSeconds = time->precisionSeconds;
    }
    return entry;
}

// A connection's thread waits here between rounds; the main thread wakes it for a round or for its end.
struct RemoteLister::Connection
{
    QThread* thread = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    std::unique_ptr<FtpSession> adopted; // set before the thread starts
    bool run = false;
    bool quit = false;
};

// The state of one list() call; only the main thread touches it.
struct RemoteLister::Round
{
    QStringList paths;
    QList<RemoteDirectoryListing> results;
    int next = 0;
    int running = 0;
    bool stopping = false;
    QEventLoop* loop = nullptr;
};

RemoteLister::RemoteLister(Credentials credentials, int maxConnections, ListingCommand command,
                           std::optional<FtpTimeouts> timeouts)
    : m_credentials(std::move(credentials)), m_maxConnections(qMax(1, maxConnections)), m_command(command),
      m_timeouts(timeouts)
{}

RemoteLister::~RemoteLister()
{
    close();
}

QList<RemoteDirectoryListing> RemoteLister::list(const QStringList& paths, const std::function<bool()>& stopped)
{
    Round round;
    round.paths = paths;
    for (const QString& path : paths)
        round.results.append(RemoteDirectoryListing{path, false, {}, {}});
    if (paths.isEmpty() || (stopped && stopped()))
        return round.results;

    // Connections taken over take part too, even beyond one per path: they are logged in already.
    const int wanted = qMax(int(m_connections.size()), int(qMin<qsizetype>(m_maxConnections, paths.size())));
    while (int(m_connections.size()) < wanted)
        addConnection();

    QEventLoop loop;
    round.loop = &loop;
    round.running = wanted;
    m_round = &round;
    QTimer poll;
    if (stopped) {
        QObject::connect(&poll, &QTimer::timeout, &loop, [&round, &stopped] {
            if (!round.stopping && stopped())
                round.stopping = true;
        });
        poll.start(50);
    }
    for (int i = 0; i < wanted; ++i) {
        Connection* connection = m_connections[size_t(i)].get();
        std::lock_guard lock(connection->mutex);
        connection->run = true;
        connection->wake.notify_one();
    }
    loop.exec();
    m_round = nullptr;
    return round.results;
}

void RemoteLister::addConnection(std::unique_ptr<FtpSession> adopted)
{
    auto connection = std::make_unique<Connection>();
    connection->adopted = std::move(adopted);
    Connection* raw = connection.get();
    connection->thread = QThread::create([this, raw] { runConnection(raw); });
    connection->thread->start();
    m_connections.push_back(std::move(connection));
}

void RemoteLister::adopt(std::unique_ptr<FtpSession>& session)
{
    if (session && int(m_connections.size()) < m_maxConnections)
        addConnection(std::move(session));
}

std::optional<bool> RemoteLister::offersMlsd() const
{
    const int known = m_mlsd.load();
    return known < 0 ? std::nullopt : std::optional<bool>(known == 1);
}

int RemoteLister::exchange(std::optional<std::pair<int, RemoteDirectoryListing>> done, int loginsMade)
{
    m_logins += loginsMade;
    Round& round = *m_round;
    if (done)
        round.results[done->first] = std::move(done->second);
    if (round.stopping || round.next >= round.paths.size()) {
        if (--round.running == 0)
            round.loop->quit();
        return -1;
    }
    return round.next++;
}

void RemoteLister::runConnection(Connection* connection)
{
    const std::unique_ptr<FtpSession> owned =
        connection->adopted ? std::move(connection->adopted) : std::make_unique<FtpSession>(m_credentials, m_timeouts);
    FtpSession& session = *owned;
    bool useMlsd = false;
    bool mlsdDecided = false; // for this login
    int logins = 0;           // made since the last exchange
    // Right after the login the connection is in the login directory; a later listing may have left it anywhere
    // (and a session taken over may be anywhere), so then every listing names its directory.
    bool fresh = false;
    const auto decideMlsd = [&] {
        mlsdDecided = true;
        if (m_command != ListingCommand::Best) {
            useMlsd = false;
        } else if (const int known = m_mlsd.load(); known >= 0) {
            useMlsd = known == 1;
        } else {
            useMlsd = ftpSendCommand(session.connection(), "FEAT") == 211 &&
                      featOffersMlsd(ftpLastReplyText(session.connection()));
            m_mlsd = useMlsd ? 1 : 0;
        }
    };
    const auto login = [&] {
        if (!session.connect())
            return false;
        ++logins;
        fresh = true;
        decideMlsd();
        return true;
    };
    for (;;) {
        {
            std::unique_lock lock(connection->mutex);
            connection->wake.wait(lock, [connection] { return connection->run || connection->quit; });
            if (connection->quit)
                break;
            connection->run = false;
        }
        std::optional<std::pair<int, RemoteDirectoryListing>> done;
        for (;;) {
            int index = -1;
            QString path;
            QMetaObject::invokeMethod(
                &m_context,
                [&] {
                    index = exchange(std::move(done), logins);
                    if (index >= 0)
                        path = m_round->paths.at(index);
                },
                Qt::BlockingQueuedConnection);
            done.reset();
            logins = 0;
            if (index < 0)
                break;

            RemoteDirectoryListing result{path, false, {}, {}};
            if (!session.isConnected() && !login()) {
                done.emplace(index, std::move(result));
                continue;
            }
            if (!mlsdDecided)
                decideMlsd();
            QByteArray data;
            const auto sink = [&data](const QByteArray& bytes) { data += bytes; };
            const auto listOnce = [&] {
                data.clear();
                const QString loginDirectory = ftpLoginDirectory(session.connection());
                const QString target = directoryToList(path, loginDirectory, m_belowLoginDirectory);
                const QByteArray directory =
                    fresh && sameDirectory(target, loginDirectory) ? QByteArray() : target.toUtf8();
                // MLSD takes the directory as its argument, a round trip less than a CWD first; LIST's argument is
                // read as options by some servers, so LIST goes after a CWD.
                int code = useMlsd ? ftpListing(session.connection(), "MLSD " + target.toUtf8(), sink)
                                   : ftpListing(session.connection(), "LIST -a", sink, nullptr, directory);
                if (useMlsd && (code == 500 || code == 502 || code == 504)) {
                    // offered but refused after all: LIST from now on, on every connection
                    useMlsd = false;
                    m_mlsd = 0;
                    data.clear();
                    code = ftpListing(session.connection(), "LIST -a", sink, nullptr, directory);
                }
                return code;
            };
            int code = listOnce();
            if (code == 0) {
                // No answer: the server may have closed the kept connection (an idle time-out, a restart). One
                // more try on a new connection tells that apart from a directory that cannot be listed.
                session.close();
                fresh = false;
                code = login() ? listOnce() : 0;
            }
            fresh = false;
            result.listed = code == 226 || code == 250;
            if (result.listed) {
                const QDateTime now = QDateTime::currentDateTimeUtc();
                const QStringList lines = linesOf(data);
                for (const QString& line : lines) {
                    const std::optional<RemoteEntry> entry = useMlsd ? mlsdEntry(line) : listEntry(line, now);
                    if (entry)
                        result.entries.append(*entry);
                }
                if (!useMlsd)
                    result.lines = lines;
            }
            done.emplace(index, std::move(result));
        }
    }
    session.close();
}

void RemoteLister::close()
{
    for (const auto& connection : m_connections) {
        std::lock_guard lock(connection->mutex);
        connection->quit = true;
        connection->wake.notify_one();
    }
    for (const auto& connection : m_connections) {
        QEventLoop loop;
        QObject::connect(connection->thread, &QThread::finished, &loop, &QEventLoop::quit);
        if (!connection->thread->isFinished())
            loop.exec();
        connection->thread->wait();
        delete connection->thread;
    }
    m_connections.clear();
}
