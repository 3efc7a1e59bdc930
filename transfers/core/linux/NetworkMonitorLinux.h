#pragma once

#include "core/ConnectivityBroadcaster.h"

#include <gio/gio.h>

#include <memory>

namespace fv_transfers {

// Follows GIO's network monitor and publishes whether the internet is reachable. Built, used
// and destroyed on the service thread: its own monitor instance attaches to the GLib context
// that is the thread default there, never to the main program's.
class CNetworkMonitorLinux {
public:
    // `monitorType` from defaultMonitorType().
    CNetworkMonitorLinux(std::shared_ptr<CConnectivityBroadcaster> target, GType monitorType);
    ~CNetworkMonitorLinux();
    CNetworkMonitorLinux(const CNetworkMonitorLinux&) = delete;
    CNetworkMonitorLinux& operator=(const CNetworkMonitorLinux&) = delete;

    // The implementation GIO picks for this system. Call it while none of the library's contexts
    // is the thread default: GIO's own monitor, shared with the main program, binds to the
    // context that is current on its first use, and must stay with the main program's.
    static GType defaultMonitorType();

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
