#pragma once

#include <functional>
#include <map>
#include <mutex>

namespace fv_transfers {

// The machine's last known internet reachability, published by the platform's network monitor
// on the service thread and read by the reachability checkers. It is the one seam between the
// checkers and the operating system, so the checkers are tested without a network change.
class CConnectivityBroadcaster {
public:
    using Listener = std::function<void(bool reachable)>;

    explicit CConnectivityBroadcaster(bool reachable = false);
    CConnectivityBroadcaster(const CConnectivityBroadcaster&) = delete;
    CConnectivityBroadcaster& operator=(const CConnectivityBroadcaster&) = delete;

    // Calls the listener at once with the current state, then with every published state.
    // Listeners run under the broadcaster's lock: they must be quick and must not call back.
    // A listener must not take a lock held where it is unsubscribed.
    int subscribe(Listener listener);
    // After the return the listener is never called again.
    void unsubscribe(int id);

    void publish(bool reachable);
    bool isReachable() const;

private:
    mutable std::mutex m_lock;
    bool m_reachable;
    int m_nextId = 1;
    std::map<int, Listener> m_listeners;
};

} // namespace fv_transfers
