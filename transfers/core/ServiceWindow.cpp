#include "core/ServiceWindow.h"

#include "core/FvTransfersLogger.h"
#include "core/linux/NetworkMonitorLinux.h"
#include "core/linux/PowerEventSourceLinux.h"

#include <glib.h>

#include <chrono>

namespace fv_transfers {

namespace {

// Connecting to a live bus takes milliseconds; a hung one must not hold up the library's start.
const auto kReadyWait = std::chrono::seconds(10);

std::mutex& instanceLock()
{
    static std::mutex lock;
    return lock;
}

std::shared_ptr<CServiceWindow>& instanceSlot()
{
    static std::shared_ptr<CServiceWindow> instance;
    return instance;
}

} // namespace

const char* CServiceWindow::CNotInitializedException::what() const noexcept
{
    return "Service window is not initialized (CServiceWindow::initialize has not been called)";
}

bool CServiceWindow::create()
{
    std::lock_guard<std::mutex> lock(instanceLock());
    if (instanceSlot())
        return true;
    try {
        instanceSlot() = std::make_shared<CServiceWindow>();
        return true;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CServiceWindow::create: Exception: " << e.what());
        return false;
    }
}

void CServiceWindow::destroy()
{
    std::shared_ptr<CServiceWindow> window;
    {
        std::lock_guard<std::mutex> lock(instanceLock());
        window.swap(instanceSlot());
    }
    if (window)
        window->stop();
}

std::shared_ptr<CServiceWindow> CServiceWindow::getInstance()
{
    std::lock_guard<std::mutex> lock(instanceLock());
    if (!instanceSlot())
        throw CNotInitializedException();
    return instanceSlot();
}

CServiceWindow::CServiceWindow()
    : m_context(g_main_context_new()), m_connectivity(std::make_shared<CConnectivityBroadcaster>()),
      m_events("fv-power-events"), m_thread("fv-service")
{
    try {
        m_thread.start(*this);
    } catch (...) {
        g_main_context_unref(m_context);
        throw;
    }
    std::unique_lock<std::mutex> lock(m_readyLock);
    if (!m_readyCondition.wait_for(lock, kReadyWait, [this] { return m_ready; }))
        FV_LOG_WARNING("fv_transfers::CServiceWindow: service thread not ready yet, continuing");
}

CServiceWindow::~CServiceWindow()
{
    stop();
    g_main_context_unref(m_context);
}

void CServiceWindow::stop()
{
    std::lock_guard<std::mutex> lock(m_stopLock);
    m_stopping = true;
    // The loop checks the flag after every wake-up, so this ends it at once.
    g_main_context_wakeup(m_context);
    if (!m_joined && Poco::Thread::current() != &m_thread) {
        m_thread.join();
        m_joined = true;
    }
    m_events.stop();
}

bool CServiceWindow::listensToPower() const
{
    std::lock_guard<std::mutex> lock(m_readyLock);
    return m_listensToPower;
}

void CServiceWindow::run()
{
    g_main_context_push_thread_default(m_context);
    try {
        CPowerEventSourceLinux power([this](std::uint32_t mode) { raisePowerEvent(mode); });
        CNetworkMonitorLinux network(m_connectivity);
        markReady(power.isListening());
        while (!m_stopping)
            g_main_context_iteration(m_context, TRUE);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CServiceWindow::run: Exception: " << e.what());
        markReady(false);
    }
    g_main_context_pop_thread_default(m_context);
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
