#include "core/system/linux/NetworkMonitorLinux.h"

#include "core/log/FvTransfersLogger.h"
#include "core/system/linux/SystemBusLinux.h"

#include <string>
#include <vector>

namespace fv_transfers {

namespace {

// The implementation GIO would pick, made as GIO's default monitor is but with our cancellable:
// the default one sets up with none, so a system bus that never answers would hold the service
// thread for good. A fresh instance also binds its sources to the service thread's context,
// not to the main program's.
GNetworkMonitor* newNetworkMonitor(GCancellable* cancel, std::string& error)
{
    // Loads GIO's modules, which register the implementations; the TLS backend needs no bus.
    g_tls_backend_get_default();
    GIOExtensionPoint* point = g_io_extension_point_lookup(G_NETWORK_MONITOR_EXTENSION_POINT_NAME);
    if (!point) {
        error = "no implementation registered";
        return nullptr;
    }
    std::vector<GIOExtension*> candidates;
    if (const char* chosen = g_getenv("GIO_USE_NETWORK_MONITOR")) {
        if (GIOExtension* extension = g_io_extension_point_get_extension_by_name(point, chosen))
            candidates.push_back(extension);
    }
    // Highest priority first.
    for (GList* item = g_io_extension_point_get_extensions(point); item; item = item->next)
        candidates.push_back(static_cast<GIOExtension*>(item->data));
    error = "no implementation works here";
    for (GIOExtension* extension : candidates) {
        if (g_cancellable_is_cancelled(cancel)) {
            error = "cancelled";
            return nullptr;
        }
        const GType type = g_io_extension_get_type(extension);
        if (!g_type_is_a(type, G_TYPE_INITABLE) || !g_type_is_a(type, G_TYPE_NETWORK_MONITOR))
            continue;
        GError* gerror = nullptr;
        if (gpointer monitor = g_initable_new(type, cancel, &gerror, nullptr))
            return G_NETWORK_MONITOR(monitor);
        error = takeGError(gerror);
        FV_LOG_DEBUG("fv_transfers::CNetworkMonitorLinux: " << g_io_extension_get_name(extension)
                                                            << " monitor unavailable: " << error);
    }
    return nullptr;
}

} // namespace

CNetworkMonitorLinux::CNetworkMonitorLinux(std::shared_ptr<CConnectivityBroadcaster> target, GCancellable* cancel)
    : m_target(std::move(target))
{
    std::string error;
    m_monitor = newNetworkMonitor(cancel, error);
    if (!m_monitor) {
        // Better to resume transfers at once after a wake than to wait forever.
        FV_LOG_WARNING("fv_transfers::CNetworkMonitorLinux: network monitor unavailable ("
                       << error << "), the network is taken as reachable");
        m_target->publish(true);
        return;
    }
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
