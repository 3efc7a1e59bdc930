#include "framework/EngineCommandQueue.h"

#include <utility>

namespace fv_transfers {

void CEngineCommandQueue::push(int code, const Poco::Any& payload)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_commands.push_back(Command{code, payload});
    m_wake.notify_one();
}

void CEngineCommandQueue::waitAndPop(int& code, Poco::Any& payload)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_wake.wait(guard, [this] { return !m_commands.empty(); });
    code = m_commands.front().code;
    payload = m_commands.front().payload; // a copy: the payload's last owner is never dropped here
    m_commands.pop_front();
}

std::size_t CEngineCommandQueue::removeAll(int code)
{
    std::deque<Command> dropped; // payloads end outside the lock
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::deque<Command> kept;
        for (Command& command : m_commands)
            (command.code == code ? dropped : kept).push_back(std::move(command));
        m_commands.swap(kept);
    }
    return dropped.size();
}

std::size_t CEngineCommandQueue::size() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_commands.size();
}

} // namespace fv_transfers
