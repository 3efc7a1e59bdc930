#include "core/system/linux/ReachabilityCheckerLinux.h"

#include "core/log/FvTransfersLogger.h"
#include "core/system/ServiceWindow.h"

namespace fv_transfers {

namespace {

std::shared_ptr<CConnectivityBroadcaster> serviceConnectivity()
{
    try {
        return CServiceWindow::getInstance()->connectivity();
    } catch (const CServiceWindow::CNotInitializedException&) {
        throw CReachabilityCheckerLinux::CReachabilityCreationFailure("GNetworkMonitor");
    }
}

} // namespace

CReachabilityCheckerLinux::CReachabilityCreationFailure::CReachabilityCreationFailure(const std::string& component)
    : std::runtime_error("Failed to create system component required for reachability check: " + component)
{
}

CReachabilityCheckerLinux::CReachabilityCheckerLinux() : CReachabilityCheckerLinux(serviceConnectivity()) {}

CReachabilityCheckerLinux::CReachabilityCheckerLinux(std::shared_ptr<CConnectivityBroadcaster> source)
    : m_source(std::move(source)), m_events("fv-reachability")
{
}

CReachabilityCheckerLinux::~CReachabilityCheckerLinux()
{
    unsubscribe();
    m_events.stop();
}

void CReachabilityCheckerLinux::start()
{
    unsubscribe();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_reported = false;
        m_starting = true;
    }
    const int id = m_source->subscribe([this](bool reachable) { onConnectivity(reachable); });
    bool reachable = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_subscription = id;
        m_starting = false;
        reachable = m_reported;
    }
    // The very last step: a subscriber may destroy this checker as soon as it hears of it.
    if (reachable)
        postReport();
}

void CReachabilityCheckerLinux::unsubscribe()
{
    int id = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::swap(id, m_subscription);
    }
    if (id != 0)
        m_source->unsubscribe(id);
}

void CReachabilityCheckerLinux::onConnectivity(bool reachable)
{
    if (!reachable)
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_reported)
            return;
        m_reported = true;
        if (m_starting)
            return; // start() reports it once it is done with this object
    }
    postReport();
}

void CReachabilityCheckerLinux::postReport()
{
    FV_LOG_INFO("fv_transfers::CReachabilityCheckerLinux: internet is reachable");
    m_events.post([this] {
        const bool value = true;
        reachabilityEvent.notify(this, value);
    });
}

} // namespace fv_transfers
