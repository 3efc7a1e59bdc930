#include "shell/InMemoryLogChannel.h"

namespace ferrovan {

InMemoryLogChannel::InMemoryLogChannel(std::size_t capacity) : m_capacity(capacity) {}

void InMemoryLogChannel::log(const Poco::Message& msg)
{
    Poco::FastMutex::ScopedLock guard(m_mutex);
    if (m_messages.size() < m_capacity)
        m_messages.push_back(msg);
    else
        ++m_dropped;
}

std::list<Poco::Message> InMemoryLogChannel::getMessages() const
{
    Poco::FastMutex::ScopedLock guard(m_mutex);
    return m_messages;
}

std::size_t InMemoryLogChannel::getDroppedCount() const
{
    Poco::FastMutex::ScopedLock guard(m_mutex);
    return m_dropped;
}

} // namespace ferrovan
