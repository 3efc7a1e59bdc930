#include "core/system/ServiceWindow.h"

#include "core/base/SharedInstanceSlot.h"
#include "core/log/FvTransfersLogger.h"
#include "core/system/linux/ServiceWindowLinux.h"

namespace fv_transfers {

namespace {

CSharedInstanceSlot<CServiceWindow>& instanceSlot()
{
    static CSharedInstanceSlot<CServiceWindow> slot;
    return slot;
}

} // namespace

const char* CServiceWindow::CNotInitializedException::what() const noexcept
{
    return "Service window is not initialized (CServiceWindow::initialize has not been called)";
}

bool CServiceWindow::create()
{
    try {
        instanceSlot().getOrCreate([] { return std::make_shared<CServiceWindow>(); });
        return true;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CServiceWindow::create: Exception: " << e.what());
        return false;
    }
}

void CServiceWindow::destroy()
{
    if (std::shared_ptr<CServiceWindow> window = instanceSlot().take())
        window->stop();
}

std::shared_ptr<CServiceWindow> CServiceWindow::getInstance()
{
    std::shared_ptr<CServiceWindow> window = instanceSlot().get();
    if (!window)
        throw CNotInitializedException();
    return window;
}

CServiceWindow::CServiceWindow(std::chrono::milliseconds readyWait)
    : m_platform(std::make_unique<CServiceWindowLinux>()), m_connectivity(std::make_shared<CConnectivityBroadcaster>()),
      m_events("fv-power-events"), m_thread("fv-service")
{
    m_thread.start(*this);
    std::unique_lock<std::mutex> lock(m_readyLock);
    if (!m_readyCondition.wait_for(lock, readyWait, [this] { return m_ready; }))
        FV_LOG_WARNING("fv_transfers::CServiceWindow: service thread not ready yet, continuing");
}

CServiceWindow::~CServiceWindow()
{
    stop();
}

void CServiceWindow::stop()
{
    // First, so that no power event starts once stop has begun. Not under a lock: a power
    // subscriber may stop the window too.
    m_events.stop();
    m_platform->stop();
    {
        std::lock_guard<std::mutex> lock(m_joinLock);
        if (!m_joined && Poco::Thread::current() != &m_thread) {
            m_thread.join();
            m_joined = true;
        }
    }
}

bool CServiceWindow::listensToPower() const
{
    std::lock_guard<std::mutex> lock(m_readyLock);
    return m_listensToPower;
}

void CServiceWindow::run()
{
    try {
        m_platform->run([this](std::uint32_t mode) { raisePowerEvent(mode); }, m_connectivity,
                        [this](bool listensToPower) { markReady(listensToPower); });
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CServiceWindow::run: Exception: " << e.what());
        markReady(false);
    }
}

void CServiceWindow::markReady(bool listensToPower)
{
    {
        std::lock_guard<std::mutex> lock(m_readyLock);
        m_ready = true;
        m_listensToPower = listensToPower;
    }
    m_readyCondition.notify_all();
}

void CServiceWindow::raisePowerEvent(std::uint32_t powerMode)
{
    FV_LOG_INFO("fv_transfers::CServiceWindow: power mode " << powerMode);
    m_events.post([this, powerMode] {
        const PowerModeChangeData data{powerMode};
        powerEvent.notify(this, data);
    });
}

} // namespace fv_transfers
