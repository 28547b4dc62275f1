#include "upload/remotedirectoryset.h"

bool RemoteDirectorySet::claim(const QString& directory)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto it = m_states.constFind(directory);
        if (it == m_states.cend()) {
            m_states.insert(directory, State::Claimed);
            return true;
        }
        if (*it == State::Known)
            return false;
        m_settled.wait(lock);
    }
}

void RemoteDirectorySet::settle(const QString& directory, bool answered)
{
    {
        std::lock_guard lock(m_mutex);
        if (answered)
            m_states.insert(directory, State::Known);
        else
            m_states.remove(directory);
    }
    m_settled.notify_all();
}
