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
        if (*it != State::Claimed)
            return false;
        m_settled.wait(lock);
    }
}

void RemoteDirectorySet::settle(const QString& directory, Answer answer)
{
    {
        std::lock_guard lock(m_mutex);
        if (answer == Answer::None)
            m_states.remove(directory);
        else
            m_states.insert(directory, answer == Answer::Created ? State::Created : State::Refused);
    }
    m_settled.notify_all();
}

bool RemoteDirectorySet::created(const QString& directory)
{
    std::lock_guard lock(m_mutex);
    return m_states.value(directory, State::Refused) == State::Created;
}
