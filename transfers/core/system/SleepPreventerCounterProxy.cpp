#include "core/system/SleepPreventerCounterProxy.h"

#include "core/log/FvTransfersLogger.h"
#include "core/system/linux/SleepPreventerLinux.h"

namespace fv_transfers {

CSleepPreventerCounterProxy::CSleepPreventerCounterProxy()
    : CSleepPreventerCounterProxy(std::make_shared<CSleepPreventerLinux>())
{
}

CSleepPreventerCounterProxy::CSleepPreventerCounterProxy(std::shared_ptr<ISleepPreventer> preventer)
    : m_preventer(std::move(preventer))
{
}

CSleepPreventerCounterProxy::~CSleepPreventerCounterProxy() = default;

CSleepPreventerCounterProxy& CSleepPreventerCounterProxy::getInstance()
{
    static CSleepPreventerCounterProxy instance;
    return instance;
}

void CSleepPreventerCounterProxy::sleepCounterIncrement()
{
    try {
        Poco::FastMutex::ScopedLock lock(m_mutex);
        if (m_counter == 0 && !m_preventer->isPreventing()) {
            FV_LOG_INFO("Start preventing sleep!");
            if (!m_preventer->prevent())
                FV_LOG_ERROR("Failed to start preventing sleep!");
        }
        ++m_counter;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CSleepPreventerCounterProxy::sleepCounterIncrement: Exception: " << e.what());
    }
}

void CSleepPreventerCounterProxy::sleepCounterDecrement()
{
    try {
        Poco::FastMutex::ScopedLock lock(m_mutex);
        if (m_counter == 1) {
            FV_LOG_INFO("Stop preventing sleep!");
            if (!m_preventer->allow())
                FV_LOG_ERROR("Failed to stop preventing sleep!");
        }
        if (m_counter > 0)
            --m_counter;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CSleepPreventerCounterProxy::sleepCounterDecrement: Exception: " << e.what());
    }
}

} // namespace fv_transfers
