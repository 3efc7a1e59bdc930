#pragma once

#include <Poco/BasicEvent.h>

namespace fv_transfers {

// Tells its subscribers once the internet is reachable; it never reports that it went away.
class IReachabilityChecker {
public:
    virtual ~IReachabilityChecker() = default;

    // Checks now and then on every change, until reachability was reported once.
    virtual void start() = 0;

    // Always raised with true.
    // A subscriber must not take a lock held where the checker is destroyed.
    Poco::BasicEvent<const bool> reachabilityEvent;
};

} // namespace fv_transfers
