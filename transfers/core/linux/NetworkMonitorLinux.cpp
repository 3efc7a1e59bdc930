#include "core/linux/NetworkMonitorLinux.h"

#include "core/FvTransfersLogger.h"
#include "core/linux/SystemBusLinux.h"

namespace fv_transfers {

GType CNetworkMonitorLinux::defaultMonitorType()
{
    return G_OBJECT_TYPE(g_network_monitor_get_default());
}

CNetworkMonitorLinux::CNetworkMonitorLinux(std::shared_ptr<CConnectivityBroadcaster> target, GType monitorType)
    : m_target(std::move(target))
{
    // A fresh instance binds its sources to the service thread's context.
    GError* error = nullptr;
    gpointer monitor = g_initable_new(monitorType, nullptr, &error, nullptr);
    if (!monitor) {
        // Better to resume transfers at once after a wake than to wait forever.
        FV_LOG_WARNING("fv_transfers::CNetworkMonitorLinux: network monitor unavailable ("
                       << takeGError(error) << "), the network is taken as reachable");
        m_target->publish(true);
        return;
    }
    m_monitor = G_NETWORK_MONITOR(monitor);
    g_signal_connect(m_monitor, "network-changed", G_CALLBACK(&onNetworkChanged), this);
    g_signal_connect(m_monitor, "notify::connectivity", G_CALLBACK(&onConnectivityChanged), this);
    publishCurrent();
}

CNetworkMonitorLinux::~CNetworkMonitorLinux()
{
    if (!m_monitor)
        return;
    g_signal_handlers_disconnect_by_data(m_monitor, this);
    g_object_unref(m_monitor);
}

bool CNetworkMonitorLinux::isReachable(gboolean networkAvailable, GNetworkConnectivity connectivity)
{
    return networkAvailable && connectivity == G_NETWORK_CONNECTIVITY_FULL;
}

void CNetworkMonitorLinux::onNetworkChanged(GNetworkMonitor*, gboolean, gpointer self)
{
    static_cast<CNetworkMonitorLinux*>(self)->publishCurrent();
}

void CNetworkMonitorLinux::onConnectivityChanged(GObject*, GParamSpec*, gpointer self)
{
    static_cast<CNetworkMonitorLinux*>(self)->publishCurrent();
}

void CNetworkMonitorLinux::publishCurrent()
{
    const bool reachable =
        isReachable(g_network_monitor_get_network_available(m_monitor), g_network_monitor_get_connectivity(m_monitor));
    FV_LOG_DEBUG("fv_transfers::CNetworkMonitorLinux: internet reachable: " << reachable);
    m_target->publish(reachable);
}

} // namespace fv_transfers
