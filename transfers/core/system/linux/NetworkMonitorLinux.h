#pragma once

#include "core/system/ConnectivityBroadcaster.h"

#include <gio/gio.h>

#include <memory>

namespace fv_transfers {

// Follows GIO's network monitor and publishes whether the internet is reachable. Built, used
// and destroyed on the service thread: its own monitor instance attaches to the GLib context
// that is the thread default there, never to the main program's.
class CNetworkMonitorLinux {
public:
    // Cancelling `cancel` ends a set-up that waits on a bus.
    CNetworkMonitorLinux(std::shared_ptr<CConnectivityBroadcaster> target, GCancellable* cancel);
    ~CNetworkMonitorLinux();
    CNetworkMonitorLinux(const CNetworkMonitorLinux&) = delete;
    CNetworkMonitorLinux& operator=(const CNetworkMonitorLinux&) = delete;

    // Full connectivity only: local, limited and captive-portal networks do not reach the service.
    static bool isReachable(gboolean networkAvailable, GNetworkConnectivity connectivity);

private:
    static void onNetworkChanged(GNetworkMonitor* monitor, gboolean available, gpointer self);
    static void onConnectivityChanged(GObject* monitor, GParamSpec* property, gpointer self);
    void publishCurrent();

    std::shared_ptr<CConnectivityBroadcaster> m_target;
    GNetworkMonitor* m_monitor = nullptr;
};

} // namespace fv_transfers
