#pragma once

#include <QCoreApplication>
#include <QList>
#include <QThread>

// Stops a test's own threads however the test function ends: a QThread destroyed while it still runs ends the
// whole test program, which is what the early return of a failed check did to a test that had started one.
// Declare it after the threads, so that it goes first.
class ThreadGuard
{
public:
    ThreadGuard() = default;
    ~ThreadGuard() { stopAll(); }
    ThreadGuard(const ThreadGuard&) = delete;
    ThreadGuard& operator=(const ThreadGuard&) = delete;

    // Starts the thread; it is stopped when the guard goes at the latest.
    void start(QThread& thread)
    {
        m_threads << &thread;
        thread.start();
    }

    // Asks every thread started here to stop, then waits for each while the main thread's events run, so that a
    // thread blocked in a call into the main thread can finish that call.
    void stopAll()
    {
        for (QThread* thread : m_threads)
            thread->requestInterruption();
        for (QThread* thread : m_threads)
            while (!thread->wait(10))
                QCoreApplication::processEvents();
        m_threads.clear();
    }

private:
    QList<QThread*> m_threads;
};
