#pragma once

#include <QHash>
#include <QString>

#include <condition_variable>
#include <mutex>

// The remote directories of one upload round that are known to exist, shared by the round's workers so that each
// directory is asked for (MKD) once per round and not once per file.
//
// Contract: the controller creates one set per round and hands it to that round's workers, which call claim() and
// settle() from their own threads; everything else about the round stays on the main thread. The set is the one
// piece of upload state that workers touch outside a blocking main-thread call, and it has to be: a worker that
// needs a directory another worker is creating must wait for that answer, and the main thread must never wait.
// claim() returns false for a directory already known; true hands the directory to the caller, who must then
// send its MKD and settle() it exactly once. A caller that asks for a directory another worker holds waits until
// that worker settles it (bounded by that worker's reply time-outs). A directory whose MKD was answered, whether
// created or refused, is known for the rest of the round: a refusal for a directory that cannot be created shows
// in the put of its files, and the next round, with a new set, asks again. A directory that got no answer is
// handed to the next worker that claims it. created() tells whether a MKD of this round made the directory: it
// then exists, and a folder entry for it needs no check of its own.
class RemoteDirectorySet
{
public:
    enum class Answer
    {
        None,    // no answer: the directory stays unknown
        Refused, // it exists already, or cannot be created; the put of its files tells
        Created
    };

    bool claim(const QString& directory);
    void settle(const QString& directory, Answer answer);
    bool created(const QString& directory);

private:
    enum class State
    {
        Claimed,
        Refused,
        Created
    };

    std::mutex m_mutex;
    std::condition_variable m_settled;
    QHash<QString, State> m_states;
};
