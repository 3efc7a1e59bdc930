#pragma once

#include <chrono>
#include <string>

namespace ferrovan {

// A second start's way to the running instance: ActivateApp on the session bus, without letting
// the bus start a program. The running instance may hold the guard a moment before it owns its
// name, so a missing owner is asked again every 100 ms until the wait is over; an instance in
// another login session, on another bus, is never found.
class CInstanceHandOverLinux {
public:
    static constexpr std::chrono::milliseconds kDefaultOwnerWait{5000};

    explicit CInstanceHandOverLinux(std::chrono::milliseconds ownerWait = kDefaultOwnerWait);

    // Empty once the running instance took the call; otherwise why it could not be reached.
    std::string activateRunningInstance();

private:
    std::chrono::milliseconds m_ownerWait;
};

} // namespace ferrovan
