#include "framework/TransferManagerProxyBase.h"

#include "core/system/SleepPreventerCounterProxy.h"
#include "framework/GroupManagerBase.h"
#include "framework/TransferEngineBase.h"
#include "framework/TrasfersAsyncTasksExecutor.h"

#include <Poco/Delegate.h>

#include <algorithm>

namespace fv_transfers {

// Placeholder until sleep handling lands: the counter is kept synchronously, no sleep events.
struct CTransferManagerProxyBase::SleepState {
    std::mutex lock;
    bool active = false;
    bool preventSleep = false;
    bool counted = false;
};

CTransferManagerProxyBase::CTransferManagerProxyBase(const std::string& threadPrefix, Environment environment)
    : m_threadPrefix(threadPrefix), m_environment(std::move(environment)), m_sleep(std::make_unique<SleepState>())
{
}

CTransferManagerProxyBase::~CTransferManagerProxyBase()
{
    setPreventSleep(false);
}

void CTransferManagerProxyBase::startup()
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    startupLocked();
}

void CTransferManagerProxyBase::shutdown()
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    shutdownLocked();
}

void CTransferManagerProxyBase::enableSleepHandling() {}
void CTransferManagerProxyBase::disableSleepHandling() {}
void CTransferManagerProxyBase::onEngineStarted() {}
void CTransferManagerProxyBase::onEngineStopped() {}

void CTransferManagerProxyBase::createTasksExecutor(std::uint32_t capacity, CGroupManagerBase& groupManager,
                                                    ITransferEngineCallback* engine)
{
    const std::string prefix = m_threadPrefix + "-task-";
    m_tasksExecutor = std::make_shared<CTrasfersAsyncTasksExecutor>(std::max<std::uint32_t>(1, capacity), prefix);
    groupManager.setTasksExecutor(m_tasksExecutor);
    groupManager.setEngine(engine);
}

void CTransferManagerProxyBase::setTasksExecutorCapacity(std::uint32_t maxConcurrentTransfers)
{
    if (maxConcurrentTransfers != 0 && m_tasksExecutor)
        m_tasksExecutor->setCapacity(maxConcurrentTransfers);
}

void CTransferManagerProxyBase::releaseTasksExecutor()
{
    m_tasksExecutor.reset();
}

void CTransferManagerProxyBase::createSynchronizer(CGroupManagerBase& groupManager, bool download)
{
    m_synchronizer = std::make_unique<CBucketGroupStateSynchronizer>(groupManager, m_tasksExecutor, download,
                                                                     m_environment.bucketCheckBound);
}

void CTransferManagerProxyBase::runBucketCheck()
{
    if (m_synchronizer)
        m_synchronizer->initSync();
}

void CTransferManagerProxyBase::releaseSynchronizer()
{
    m_synchronizer.reset();
}

void CTransferManagerProxyBase::activeTransfersCallback(const bool& active)
{
    CSleepPreventerCounterProxy& counter =
        m_environment.sleepCounter ? *m_environment.sleepCounter : CSleepPreventerCounterProxy::getInstance();
    std::lock_guard<std::mutex> lock(m_sleep->lock);
    m_sleep->active = active;
    const bool wanted = m_sleep->active && m_sleep->preventSleep;
    if (wanted && !m_sleep->counted)
        counter.sleepCounterIncrement();
    else if (!wanted && m_sleep->counted)
        counter.sleepCounterDecrement();
    m_sleep->counted = wanted;
}

void CTransferManagerProxyBase::setPreventSleep(bool preventSleep)
{
    bool active = false;
    {
        std::lock_guard<std::mutex> lock(m_sleep->lock);
        m_sleep->preventSleep = preventSleep;
        active = m_sleep->active;
    }
    activeTransfersCallback(active);
}

void CTransferManagerProxyBase::attachActiveTransfers(CTransferEngineBase& engine)
{
    engine.activeTransfersEvent += Poco::delegate(this, &CTransferManagerProxyBase::activeTransfersCallback);
}

void CTransferManagerProxyBase::detachActiveTransfers(CTransferEngineBase& engine)
{
    engine.activeTransfersEvent -= Poco::delegate(this, &CTransferManagerProxyBase::activeTransfersCallback);
}

} // namespace fv_transfers
