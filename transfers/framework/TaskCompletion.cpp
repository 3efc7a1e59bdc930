#include "framework/TaskCompletion.h"

#include "core/base/DtError.h"
#include "core/log/FvTransfersLogger.h"

#include <exception>
#include <utility>

namespace fv_transfers {

void TaskCompletion::wait() const
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_finished.wait(lock, [this] { return m_done; });
}

bool TaskCompletion::waitFor(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_finished.wait_for(lock, timeout, [this] { return m_done; });
}

bool TaskCompletion::isFinished() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_done;
}

bool TaskCompletion::ran() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_ran;
}

int TaskCompletion::result() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_result;
}

void TaskCompletion::addCallback(std::function<void(int)> callback)
{
    if (!callback)
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    m_callbacks.push_back(std::move(callback));
}

void TaskCompletion::runCallbacks(int code)
{
    std::vector<std::function<void(int)>> callbacks;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        callbacks.swap(m_callbacks);
    }
    for (const auto& callback : callbacks) {
        try {
            callback(code);
        } catch (const std::exception& e) {
            FV_LOG_ERROR("fv_transfers::TaskCompletion::runCallbacks: Exception: " << e.what());
        } catch (...) {
            FV_LOG_ERROR("fv_transfers::TaskCompletion::runCallbacks: unknown exception");
        }
    }
}

void TaskCompletion::finish(int code, bool ran)
{
    // A callback that never ran may own the last reference to its caller; it ends outside the lock.
    std::vector<std::function<void(int)>> unused;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_done)
        return;
    unused.swap(m_callbacks);
    m_done = true;
    m_ran = ran;
    m_result = ran ? code : dt_cancelled;
    m_finished.notify_all();
}

} // namespace fv_transfers
