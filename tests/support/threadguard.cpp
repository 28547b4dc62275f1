#include "threadguard.h"

#include <QCoreApplication>
#include <QThread>

void ThreadGuard::start(QThread& thread)
{
    m_threads << &thread;
    thread.start();
}

void ThreadGuard::stopAll()
{
    for (QThread* thread : m_threads)
        thread->requestInterruption();
    for (QThread* thread : m_threads) {
        while (!thread->wait(10))
            QCoreApplication::processEvents();
    }
    m_threads.clear();
}
