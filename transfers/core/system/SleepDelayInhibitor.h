#pragma once

#include <chrono>
#include <memory>

namespace fv_transfers {

// Asks the system to wait, before it suspends, until the holder has stopped its work. Held while
// a transfer engine runs; released once the engine has stopped for the sleep.
class ISleepDelayInhibitor {
public:
    virtual ~ISleepDelayInhibitor() = default;
    // Takes the delay lock unless it is held. Bus work, given up after its deadline: never call
    // it on an engine thread. False when none could be taken (no system bus: one warning).
    virtual bool hold() = 0;
    // Gives the lock back at once (no bus call). A hold running on another thread meanwhile
    // gives back what it gets.
    virtual void release() = 0;
    virtual bool isHeld() const = 0;
};

// The system's: a logind "delay" inhibitor of sleep.
std::unique_ptr<ISleepDelayInhibitor>
createSleepDelayInhibitor(std::chrono::milliseconds busTimeout = std::chrono::seconds(5));

} // namespace fv_transfers
