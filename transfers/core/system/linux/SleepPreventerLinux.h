#pragma once

#include "core/system/SleepPreventer.h"

#include <chrono>
#include <mutex>

namespace fv_transfers {

// Holds a logind "sleep" inhibitor: the file descriptor logind hands out is the lock, and
// closing it lets the machine sleep again. The descriptor belongs to this object, not to a
// thread, so any thread may prevent and another allow.
class CSleepPreventerLinux : public ISleepPreventer {
public:
    // A bus that accepts but never answers must not hold the counter's callers for good:
    // connecting and asking logind are each given up after `busTimeout`.
    explicit CSleepPreventerLinux(std::chrono::milliseconds busTimeout = std::chrono::seconds(5));
    ~CSleepPreventerLinux() override; // allows when still preventing
    CSleepPreventerLinux(const CSleepPreventerLinux&) = delete;
    CSleepPreventerLinux& operator=(const CSleepPreventerLinux&) = delete;

    bool prevent() override;
    bool isPreventing() override;
    bool allow() override;

private:
    const std::chrono::milliseconds m_busTimeout;
    std::mutex m_lock;
    int m_inhibitorFd = -1;
};

} // namespace fv_transfers
