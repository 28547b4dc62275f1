#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

// What sniffing has found per file-name suffix during one upload round, so that the exchange can hand a worker the
// entries that most likely keep its connection's transfer type: the server is told the type (TYPE, a round trip)
// whenever it changes, and a queue sorted by path mixes pages and images in most folders. A hint only orders the
// queue; every file is still sniffed before its put, and a wrong hint costs one TYPE, nothing else.
//
// Contract: the controller creates one per round; the round's workers call note() from their own threads, the
// main thread calls bringForward() inside an exchange. Thread-safe.
class TransferTypeHints
{
public:
    // How far into the queue an exchange looks for entries of the asking worker's type.
    static constexpr qsizetype kWindow = 100;

    void note(const QString& localPath, bool binary);
    // Moves the next batch of a worker whose connection is set to that type to the head of queue: from the first
    // kWindow entries, those predicted to need that type, then those with no prediction, then the others, up to
    // limit in all; each group, and the entries left behind, keep their order.
    void bringForward(QStringList& queue, qsizetype limit, bool binary) const;

private:
    // true: binary, false: ASCII; std::nullopt for a directory entry and for a suffix not seen yet or seen with
    // both types. Called with the mutex held.
    std::optional<bool> predictLocked(const QString& entry) const;

    enum Seen : quint8
    {
        Ascii = 1,
        Binary = 2
    };

    mutable QMutex m_mutex;
    QHash<QString, quint8> m_seen; // by lower-case suffix: the types sniffed for it
};
