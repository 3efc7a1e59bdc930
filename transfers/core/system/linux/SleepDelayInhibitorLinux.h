#pragma once

#include "core/system/SleepDelayInhibitor.h"

#include <chrono>
#include <cstdint>
#include <mutex>

namespace fv_transfers {

// A logind "delay" inhibitor of sleep: logind waits (up to its InhibitDelayMaxSec) until the
// descriptor is closed before it suspends. The bus is only touched in hold(), and never under
// the object's lock, so release() returns at once even while a hold waits for the bus.
class CSleepDelayInhibitorLinux : public ISleepDelayInhibitor {
public:
    explicit CSleepDelayInhibitorLinux(std::chrono::milliseconds busTimeout);
    ~CSleepDelayInhibitorLinux() override; // releases
    CSleepDelayInhibitorLinux(const CSleepDelayInhibitorLinux&) = delete;
    CSleepDelayInhibitorLinux& operator=(const CSleepDelayInhibitorLinux&) = delete;

    bool hold() override;
    void release() override;
    bool isHeld() const override;

private:
    const std::chrono::milliseconds m_busTimeout;
    mutable std::mutex m_lock;
    int m_fd = -1;
    // Bumped by every release: a hold that began before it gives back what it gets.
    std::uint64_t m_releases = 0;
    bool m_warnedNoBus = false;
};

} // namespace fv_transfers
