#include "core/system/ConnectivityBroadcaster.h"

namespace fv_transfers {

CConnectivityBroadcaster::CConnectivityBroadcaster(bool reachable) : m_reachable(reachable) {}

int CConnectivityBroadcaster::subscribe(Listener listener)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const int id = m_nextId++;
    listener(m_reachable);
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void CConnectivityBroadcaster::unsubscribe(int id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_listeners.erase(id);
}

void CConnectivityBroadcaster::publish(bool reachable)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_reachable = reachable;
    for (auto& entry : m_listeners)
        entry.second(reachable);
}

bool CConnectivityBroadcaster::isReachable() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reachable;
}

} // namespace fv_transfers
