#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fv_test {

// Raised once when a server stops; every wait a connection makes ends on it.
class StopSignal {
public:
    void raise()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_raised = true;
        m_changed.notify_all();
    }

    bool raised() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_raised;
    }

    // Sleeps for `duration`; true when the signal was (or gets) raised.
    bool waitFor(std::chrono::milliseconds duration) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, duration, [this] { return m_raised; });
    }

    void wait() const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_raised; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_raised = false;
};

} // namespace fv_test
