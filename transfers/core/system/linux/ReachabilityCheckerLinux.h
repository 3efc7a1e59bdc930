#pragma once

#include "core/system/ConnectivityBroadcaster.h"
#include "core/system/EventDispatcher.h"
#include "core/system/ReachabilityChecker.h"

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace fv_transfers {

// Follows the service thread's network monitor and raises the event once per start, on a
// thread of its own. Destroying it unsubscribes and waits for a delivery in progress, so no
// event reaches a subscriber after the destructor returned.
class CReachabilityCheckerLinux : public IReachabilityChecker {
public:
    class CReachabilityCreationFailure : public std::runtime_error {
    public:
        explicit CReachabilityCreationFailure(const std::string& component);
    };

    // Uses the process's service window; throws CReachabilityCreationFailure without one.
    CReachabilityCheckerLinux();
    explicit CReachabilityCheckerLinux(std::shared_ptr<CConnectivityBroadcaster> source);
    ~CReachabilityCheckerLinux() override;
    CReachabilityCheckerLinux(const CReachabilityCheckerLinux&) = delete;
    CReachabilityCheckerLinux& operator=(const CReachabilityCheckerLinux&) = delete;

    // A second start checks again and may report once more.
    void start() override;

private:
    void onConnectivity(bool reachable);
    void postReport();
    void unsubscribe();

    std::shared_ptr<CConnectivityBroadcaster> m_source;
    CEventDispatcher m_events;
    std::mutex m_lock;
    int m_subscription = 0;
    bool m_reported = false;
    bool m_starting = false;
};

} // namespace fv_transfers
