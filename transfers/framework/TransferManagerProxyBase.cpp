#include "framework/TransferManagerProxyBase.h"

#include "core/base/GuardedCall.h"
#include "core/log/FvTransfersLogger.h"
#include "core/log/LoggedGuard.h"
#include "core/system/EventDispatcher.h"
#include "core/system/ReachabilityChecker.h"
#include "core/system/SleepDelayInhibitor.h"
#include "core/system/SleepNotifier.h"
#include "core/system/SleepNotifierHolder.h"
#include "core/system/SleepPreventerCounterProxy.h"
#include "core/system/linux/ReachabilityCheckerLinux.h"
#include "framework/GroupManagerBase.h"
#include "framework/TransferEngineBase.h"
#include "framework/TrasfersAsyncTasksExecutor.h"

#include <Poco/Delegate.h>

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace fv_transfers {

static void logHostResolvedFailure(const std::string& text)
{
    FV_LOG_ERROR("fv_transfers::CTransferManagerProxyBase::onHostResolved: Exception: " << text);
}

// Everything the sleep handling, the delay inhibitor and the sleep counter need. Lock relations:
// the proxy lock → `timerLock`, and → `inhibitorLock` → the inhibitor's own; `gateLock` and
// `counter` state are taken alone. The bus (inhibitor hold, counter) is only used on `power`.
struct CTransferManagerProxyBase::SleepState {
    SleepState(CTransferManagerProxyBase& proxy, const std::string& threadPrefix)
        : owner(proxy), prefix(threadPrefix), power(threadPrefix + "-power")
    {
    }

    // Counts a handler that runs; none starts once `accepting` is cleared, and
    // disableSleepHandling waits until the count is back at zero.
    class Delivery {
    public:
        explicit Delivery(SleepState& state) : m_state(state)
        {
            std::lock_guard<std::mutex> lock(m_state.gateLock);
            m_entered = m_state.accepting;
            if (m_entered)
                ++m_state.deliveries;
        }
        ~Delivery()
        {
            if (!m_entered)
                return;
            std::lock_guard<std::mutex> lock(m_state.gateLock);
            --m_state.deliveries;
            m_state.gateChanged.notify_all();
        }
        Delivery(const Delivery&) = delete;
        Delivery& operator=(const Delivery&) = delete;
        bool entered() const { return m_entered; }

    private:
        SleepState& m_state;
        bool m_entered = false;
    };

    using CheckerPtr = std::unique_ptr<IReachabilityChecker>;

    void enable();
    void disable();

    void onSleep(const bool& sleeping);
    void onReachable(const void* sender, const bool& reachable);
    void runTimer();
    void onFallback(std::uint64_t wait);

    // With the proxy lock held. The checker is handed back to be destroyed once that lock is
    // released: its delivery in progress may be waiting for it.
    void startWaitLocked();
    CheckerPtr endWaitLocked();
    void armTimer(std::uint64_t wait);
    void disarmTimer();

    void holdInhibitor();
    void setActive(bool active);
    void setPreventSleep(bool preventSleep);
    // On `power`, or once it has stopped.
    void applyCount();
    CSleepPreventerCounterProxy& counter() const;

    CTransferManagerProxyBase& owner;
    const std::string prefix;

    std::mutex gateLock;
    std::condition_variable gateChanged;
    bool accepting = false;
    int deliveries = 0;
    std::shared_ptr<ISleepNotifier> notifier; // set while subscribed

    // Under the proxy lock.
    bool shutDownForSleep = false;
    bool waiting = false;
    std::uint64_t waits = 0; // numbers the reachability waits: a stale timer is recognised
    CheckerPtr checker;

    // The fallback for a reachability report that does not come (steady clock).
    std::mutex timerLock;
    std::condition_variable timerChanged;
    bool timerStop = false;
    bool timerArmed = false;
    std::uint64_t timerWait = 0;
    std::chrono::steady_clock::time_point timerDeadline;
    std::thread timer;

    std::mutex inhibitorLock;
    std::unique_ptr<ISleepDelayInhibitor> inhibitor; // null without sleep handling
    bool engineRunning = false;

    // Changed only on `power` (and by the destructor once it has stopped).
    bool active = false;
    bool preventSleep = false;
    bool counted = false;

    CEventDispatcher power; // last: stopped first, while the members its tasks use exist
};

void CTransferManagerProxyBase::SleepState::enable()
{
    try {
        std::shared_ptr<ISleepNotifier> source =
            owner.m_environment.sleepNotifier ? owner.m_environment.sleepNotifier : CSleepNotifierHolder::getInstance();
        {
            std::lock_guard<std::mutex> lock(inhibitorLock);
            inhibitor = owner.m_environment.delayInhibitorFactory ? owner.m_environment.delayInhibitorFactory()
                                                                  : createSleepDelayInhibitor();
        }
        if (!timer.joinable()) {
            timer = std::thread([this] { runTimer(); });
            ::pthread_setname_np(timer.native_handle(), (prefix + "-wake").substr(0, 15).c_str());
        }
        {
            std::lock_guard<std::mutex> lock(gateLock);
            accepting = true;
        }
        source->sleepEvent += Poco::delegate(this, &SleepState::onSleep);
        notifier = std::move(source);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CTransferManagerProxyBase::CTransferManagerProxyBase: Exception: " << e.what());
        std::lock_guard<std::mutex> lock(gateLock);
        accepting = false;
    }
}

void CTransferManagerProxyBase::SleepState::disable()
{
    {
        std::lock_guard<std::mutex> lock(gateLock);
        accepting = false;
    }
    if (notifier) {
        try {
            notifier->sleepEvent -= Poco::delegate(this, &SleepState::onSleep);
        } catch (const std::exception& e) {
            FV_LOG_ERROR(
                "fv_transfers::CTransferManagerProxyBase::~CTransferManagerProxyBase: Exception: " << e.what());
        }
        notifier.reset();
    }
    CheckerPtr dropped;
    {
        Poco::FastMutex::ScopedLock lock(owner.m_proxyLock);
        dropped = endWaitLocked();
    }
    // Waits for the checker's delivery in progress, which finds nothing to do.
    dropped.reset();
    if (timer.joinable() && timer.get_id() != std::this_thread::get_id()) {
        {
            std::lock_guard<std::mutex> lock(timerLock);
            timerStop = true;
        }
        timerChanged.notify_all();
        timer.join();
    }
    std::unique_lock<std::mutex> lock(gateLock);
    gateChanged.wait(lock, [this] { return deliveries == 0; });
}

void CTransferManagerProxyBase::SleepState::onSleep(const bool& sleeping)
{
    const Delivery delivery(*this);
    if (!delivery.entered())
        return;
    CheckerPtr dropped;
    {
        Poco::FastMutex::ScopedLock lock(owner.m_proxyLock);
        guardedCall(
            0,
            [&] {
                if (sleeping) {
                    FV_LOG_INFO("CTransferManagerBase: Received sleep notification, shutting down");
                    if (shutDownForSleep) {
                        FV_LOG_INFO("CTransferManagerBase: Ignoring sleep notification, since already received one!");
                    } else {
                        // A wait for the network after an earlier wake must not start the engine now.
                        dropped = endWaitLocked();
                        owner.shutdownLocked();
                        shutDownForSleep = true;
                    }
                } else {
                    FV_LOG_INFO("CTransferManagerBase: Received wakeup notification, initiating reachability check");
                    shutDownForSleep = false;
                    if (!waiting)
                        startWaitLocked();
                }
                return 0;
            },
            [](const std::string& text) {
                FV_LOG_ERROR("fv_transfers::CTransferManagerProxyBase::onSleep: Exception: " << text);
            });
    }
    dropped.reset();
}

void CTransferManagerProxyBase::SleepState::startWaitLocked()
{
    // The fallback runs even when no checker can be made or started.
    waiting = true;
    armTimer(++waits);
    checker = owner.m_environment.reachabilityFactory ? owner.m_environment.reachabilityFactory()
                                                      : std::make_unique<CReachabilityCheckerLinux>();
    checker->reachabilityEvent += Poco::delegate(this, &SleepState::onReachable);
    checker->start();
}

CTransferManagerProxyBase::SleepState::CheckerPtr CTransferManagerProxyBase::SleepState::endWaitLocked()
{
    waiting = false;
    disarmTimer();
    return std::move(checker);
}

void CTransferManagerProxyBase::SleepState::onReachable(const void* sender, const bool& reachable)
{
    const Delivery delivery(*this);
    if (!delivery.entered())
        return;
    CheckerPtr done;
    {
        Poco::FastMutex::ScopedLock lock(owner.m_proxyLock);
        // On a failure the wait goes on: the fallback tries again.
        guardedCall(
            0,
            [&] {
                // A checker of a wait that a sleep ended is no longer ours.
                if (!waiting || !checker || sender != checker.get()) {
                    FV_LOG_WARNING("Received reachability callback when it was not expected, skipping it");
                } else if (reachable) {
                    FV_LOG_INFO("CTransferManagerBase: host name resolved, starting up");
                    owner.startupLocked();
                    done = endWaitLocked();
                }
                return 0;
            },
            logHostResolvedFailure);
    }
    // From its own callback, which the checkers allow.
    done.reset();
}

void CTransferManagerProxyBase::SleepState::armTimer(std::uint64_t wait)
{
    {
        std::lock_guard<std::mutex> lock(timerLock);
        timerArmed = true;
        timerWait = wait;
        timerDeadline = std::chrono::steady_clock::now() + owner.m_environment.reachabilityBound;
    }
    timerChanged.notify_all();
}

void CTransferManagerProxyBase::SleepState::disarmTimer()
{
    std::lock_guard<std::mutex> lock(timerLock);
    timerArmed = false;
}

void CTransferManagerProxyBase::SleepState::runTimer()
{
    std::unique_lock<std::mutex> lock(timerLock);
    while (!timerStop) {
        if (!timerArmed) {
            timerChanged.wait(lock);
            continue;
        }
        if (std::chrono::steady_clock::now() < timerDeadline) {
            timerChanged.wait_until(lock, timerDeadline);
            continue;
        }
        timerArmed = false;
        const std::uint64_t wait = timerWait;
        lock.unlock();
        onFallback(wait);
        lock.lock();
    }
}

void CTransferManagerProxyBase::SleepState::onFallback(std::uint64_t wait)
{
    const Delivery delivery(*this);
    if (!delivery.entered())
        return;
    CheckerPtr done;
    {
        Poco::FastMutex::ScopedLock lock(owner.m_proxyLock);
        if (!waiting || waits != wait)
            return;
        const bool started = guardedCall(
            false,
            [&] {
                FV_LOG_WARNING("CTransferManagerBase: no reachability report within "
                               << owner.m_environment.reachabilityBound.count() << " ms, starting up");
                owner.startupLocked();
                done = endWaitLocked();
                return true;
            },
            logHostResolvedFailure);
        if (!started)
            armTimer(wait);
    }
    done.reset();
}

void CTransferManagerProxyBase::SleepState::holdInhibitor()
{
    ISleepDelayInhibitor* target = nullptr;
    {
        std::lock_guard<std::mutex> lock(inhibitorLock);
        if (!engineRunning || !inhibitor)
            return;
        target = inhibitor.get(); // lives until `power` has stopped
    }
    target->hold();
    // A stop while the bus was asked: the stop's release may have come before this hold began.
    std::lock_guard<std::mutex> lock(inhibitorLock);
    if (!engineRunning)
        inhibitor->release();
}

CSleepPreventerCounterProxy& CTransferManagerProxyBase::SleepState::counter() const
{
    return owner.m_environment.sleepCounter ? *owner.m_environment.sleepCounter
                                            : CSleepPreventerCounterProxy::getInstance();
}

void CTransferManagerProxyBase::SleepState::setActive(bool value)
{
    power.post([this, value] {
        active = value;
        applyCount();
    });
}

void CTransferManagerProxyBase::SleepState::setPreventSleep(bool value)
{
    power.post([this, value] {
        preventSleep = value;
        applyCount();
    });
}

void CTransferManagerProxyBase::SleepState::applyCount()
{
    const bool wanted = active && preventSleep;
    if (wanted == counted)
        return;
    counted = wanted;
    if (wanted)
        counter().sleepCounterIncrement();
    else
        counter().sleepCounterDecrement();
}

CTransferManagerProxyBase::CTransferManagerProxyBase(const std::string& threadPrefix, Environment environment)
    : m_threadPrefix(threadPrefix), m_environment(std::move(environment)),
      m_sleep(std::make_unique<SleepState>(*this, threadPrefix))
{
}

CTransferManagerProxyBase::~CTransferManagerProxyBase()
{
    try {
        disableSleepHandling();
        onEngineStopped();
        m_sleep->power.stop();
        // A count this proxy holds is given back: the other managers' stay.
        m_sleep->active = false;
        m_sleep->applyCount();
        releaseSynchronizer();
        releaseTasksExecutor();
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CTransferManagerProxyBase::~CTransferManagerProxyBase: Exception: " << e.what());
    }
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

void CTransferManagerProxyBase::enableSleepHandling()
{
    m_sleep->enable();
}

void CTransferManagerProxyBase::disableSleepHandling()
{
    m_sleep->disable();
}

void CTransferManagerProxyBase::onEngineStarted()
{
    std::lock_guard<std::mutex> lock(m_sleep->inhibitorLock);
    m_sleep->engineRunning = true;
    if (m_sleep->inhibitor && !m_sleep->inhibitor->isHeld())
        m_sleep->power.post([state = m_sleep.get()] { state->holdInhibitor(); });
}

void CTransferManagerProxyBase::onEngineStopped()
{
    std::lock_guard<std::mutex> lock(m_sleep->inhibitorLock);
    m_sleep->engineRunning = false;
    if (m_sleep->inhibitor)
        m_sleep->inhibitor->release();
}

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
    std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = std::move(m_tasksExecutor);
    // The groups and their manager still hold it: stopping it here is what ends the tasks.
    if (executor)
        executor->stop();
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
    else
        FV_LOG_WARNING("CTransferManagerBase: no bucket state synchronizer, skipping the bucket check");
}

void CTransferManagerProxyBase::releaseSynchronizer()
{
    m_synchronizer.reset();
}

void CTransferManagerProxyBase::activeTransfersCallback(const bool& active)
{
    m_sleep->setActive(active);
}

void CTransferManagerProxyBase::setPreventSleep(bool preventSleep)
{
    m_sleep->setPreventSleep(preventSleep);
}

void CTransferManagerProxyBase::attachActiveTransfers(CTransferEngineBase& engine)
{
    engine.activeTransfersEvent += Poco::delegate(this, &CTransferManagerProxyBase::activeTransfersCallback);
}

void CTransferManagerProxyBase::detachActiveTransfers(CTransferEngineBase& engine)
{
    engine.activeTransfersEvent -= Poco::delegate(this, &CTransferManagerProxyBase::activeTransfersCallback);
    // The engine reports nothing more: a count taken for it is given back.
    m_sleep->setActive(false);
}

void CTransferManagerProxyBase::commandGroup(CGroupManagerBase& groups, const char* proxyName, const char* operation,
                                             std::int32_t groupId, GroupCommand command)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    loggedGuard(proxyName, operation, ": Exception: ", [&] {
        const CGroupManagerBase::GroupPtr group = groups.findGroupById(groupId);
        if (!group) {
            FV_LOG_WARNING(proxyName << operation << ": Unable to find group with id " << groupId);
            return;
        }
        switch (command) {
        case GroupCommand::pause:
            group->pause();
            FV_LOG_INFO("Pausing group with id " << groupId);
            break;
        case GroupCommand::resume:
            group->requestResume(false);
            FV_LOG_INFO("Resuming group with id " << groupId);
            break;
        case GroupCommand::cancel:
            group->cancel();
            FV_LOG_INFO("Canceling group with id " << groupId);
            break;
        }
    });
}

} // namespace fv_transfers
