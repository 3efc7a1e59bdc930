#pragma once

#include "framework/BucketGroupStateSynchronizer.h"

#include <Poco/Mutex.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace fv_transfers {

class CEventDispatcher;
class CGroupManagerBase;
class CSleepPreventerCounterProxy;
class CTransferEngineBase;
class CTrasfersAsyncTasksExecutor;
class IReachabilityChecker;
class ISleepDelayInhibitor;
class ISleepNotifier;
class ITransferEngineCallback;

// What the upload and download proxies share: the proxy lock, the task executor, the bucket
// check at start-up, the sleep-counter accounting, and surviving a suspend. On sleep the engine
// is shut down once; on wake the proxy waits for the network (at most a bound: the channels'
// own retries cope without one) and starts it again. While the engine runs the proxy holds a
// sleep delay inhibitor, so the system waits for that shut-down before it suspends.
//
// Sleep events arrive on the notifier's thread, reachability on the checker's; both take the
// proxy lock, which every exported operation of the derived proxy holds too.
class CTransferManagerProxyBase {
public:
    using ReachabilityFactory = std::function<std::unique_ptr<IReachabilityChecker>()>;
    using DelayInhibitorFactory = std::function<std::unique_ptr<ISleepDelayInhibitor>()>;

    // The process's services by default; tests put their own in.
    struct Environment {
        std::shared_ptr<ISleepNotifier> sleepNotifier; // null: the library's notifier
        ReachabilityFactory reachabilityFactory;       // null: the system's checker
        // A wake with no reachability report within this starts the engine anyway.
        std::chrono::milliseconds reachabilityBound{60000};
        DelayInhibitorFactory delayInhibitorFactory;         // null: logind's
        CSleepPreventerCounterProxy* sleepCounter = nullptr; // null: the library's counter
        std::chrono::milliseconds bucketCheckBound = CBucketGroupStateSynchronizer::kDefaultBound;
    };

    virtual ~CTransferManagerProxyBase();
    CTransferManagerProxyBase(const CTransferManagerProxyBase&) = delete;
    CTransferManagerProxyBase& operator=(const CTransferManagerProxyBase&) = delete;

    // Take the proxy lock and call the derived halves below.
    void startup();
    void shutdown();

protected:
    // `threadPrefix` names the proxy's threads ("fv-dl" gives "fv-dl-power").
    CTransferManagerProxyBase(const std::string& threadPrefix, Environment environment);

    // With the proxy lock held. startupLocked must tolerate a running engine (a wake without a
    // sleep): then it does no more than wake the engine.
    virtual void startupLocked() = 0;
    virtual void shutdownLocked() = 0;

    // The derived constructor's last step: only a fully built proxy receives sleep events. A
    // library that was not initialised gives one error line and no sleep handling.
    void enableSleepHandling();
    // The derived destructor's first step: no sleep or reachability event reaches the proxy
    // after it returns (a delivery in progress is waited for), and a reachability wait ends.
    // Never with the proxy lock held, nor from startupLocked/shutdownLocked: those deliveries
    // are what it waits for.
    void disableSleepHandling();

    // For the derived startupLocked/shutdownLocked: the delay inhibitor is taken (off the
    // calling thread) once the engine runs, and given back once it stopped.
    void onEngineStarted();
    void onEngineStopped();

    enum class GroupCommand { pause, resume, cancel };
    // Pauses, resumes (by hand) or cancels the group of that id under the proxy lock, as every
    // kind of manager does; an unknown id gets the warning naming `proxyName` and `operation`.
    void commandGroup(CGroupManagerBase& groups, const char* proxyName, const char* operation, std::int32_t groupId,
                      GroupCommand command);

    // Makes the executor (capacity at least 1) and gives it and the engine to the group manager.
    void createTasksExecutor(std::uint32_t capacity, CGroupManagerBase& groupManager, ITransferEngineCallback* engine);
    // A non-zero value becomes the capacity; 0 changes nothing.
    void setTasksExecutorCapacity(std::uint32_t maxConcurrentTransfers);
    // Cancels the queued tasks and waits for the running ones; the executor is gone afterwards.
    void releaseTasksExecutor();

    // Builds the bucket check over the restored groups (its requests start now).
    void createSynchronizer(CGroupManagerBase& groupManager, bool download);
    // Runs the bucket check; without one (its construction failed) a warning, nothing else.
    void runBucketCheck();
    void releaseSynchronizer();

    // The engine's active-transfers event. The counter calls go through the proxy's own thread
    // (a hung bus must not hold the engine thread), and the proxy remembers whether it has
    // counted, so turning prevent-sleep on or off while transfers run keeps the count right.
    void activeTransfersCallback(const bool& active);
    void setPreventSleep(bool preventSleep);
    // Subscribes activeTransfersCallback to the engine; detach before the engine goes.
    void attachActiveTransfers(CTransferEngineBase& engine);
    void detachActiveTransfers(CTransferEngineBase& engine);

    Poco::FastMutex m_proxyLock;
    std::shared_ptr<CTrasfersAsyncTasksExecutor> m_tasksExecutor;
    std::unique_ptr<CBucketGroupStateSynchronizer> m_synchronizer;

private:
    struct SleepState;
    const std::string m_threadPrefix;
    Environment m_environment;
    std::unique_ptr<SleepState> m_sleep;
};

} // namespace fv_transfers
