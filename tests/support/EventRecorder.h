#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace fv_test {

// Collects values raised on other threads; tests wait for a count with a deadline.
template <typename T> class EventRecorder {
public:
    // Notifies under the lock: a waiter may destroy the recorder as soon as it sees the value.
    void record(const T& value)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_values.push_back(value);
        m_threads.push_back(std::this_thread::get_id());
        m_changed.notify_all();
    }

    bool waitForCount(std::size_t count, int timeoutMs = 5000)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_values.size() >= count; });
    }

    std::vector<T> values() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_values;
    }

    std::vector<std::thread::id> threads() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_threads;
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<T> m_values;
    std::vector<std::thread::id> m_threads;
};

// Polls `condition` until it holds or the time is up; the last answer.
template <typename Condition> bool waitUntil(Condition condition, int timeoutMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace fv_test
