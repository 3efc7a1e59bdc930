#include "shell/AppExitFlags.h"

namespace ferrovan {

void AppExitFlags::pushFlag(int flag, const Poco::Any& payload)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_flags.emplace_back(flag, payload);
}

int AppExitFlags::peekFlag() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_flags.empty() ? kNone : m_flags.front().first;
}

bool AppExitFlags::frontHasPayload() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return !m_flags.empty() && !m_flags.front().second.empty();
}

int AppExitFlags::popFlag()
{
    return popFlagWithPayload().first;
}

std::pair<int, Poco::Any> AppExitFlags::popFlagWithPayload()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_flags.empty())
        throw EmptyQueueException();
    std::pair<int, Poco::Any> front = std::move(m_flags.front());
    m_flags.pop_front();
    return front;
}

} // namespace ferrovan
