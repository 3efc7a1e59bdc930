#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fv_transfers {

// Asks one piece of running work to end. The work polls stopRequested() between steps and
// sleeps only through waitFor(), so a stop never waits out a back-off.
class CStopToken {
public:
    CStopToken() = default;
    CStopToken(const CStopToken&) = delete;
    CStopToken& operator=(const CStopToken&) = delete;

    void requestStop();
    bool stopRequested() const;
    // Sleeps up to `timeout`; true as soon as a stop is requested.
    bool waitFor(std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    bool m_stop = false;
};

} // namespace fv_transfers
