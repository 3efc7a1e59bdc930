#include "framework/StopToken.h"

namespace fv_transfers {

void CStopToken::requestStop()
{
    // Under the lock: a waiter between its check and its wait would miss a bare notify.
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = true;
    m_changed.notify_all();
}

bool CStopToken::stopRequested() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_stop;
}

bool CStopToken::waitFor(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [this] { return m_stop; });
}

} // namespace fv_transfers
