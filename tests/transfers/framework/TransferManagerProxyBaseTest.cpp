#include "framework/TransferManagerProxyBase.h"

#include "core/system/ReachabilityChecker.h"
#include "core/system/SleepDelayInhibitor.h"
#include "core/system/SleepNotifier.h"
#include "core/system/SleepPreventerCounterProxy.h"
#include "framework/GroupManagerBase.h"
#include "framework/TrasfersAsyncTasksExecutor.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/ReachabilityCheckers.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace fv_transfers;
using fv_test::Checkers;

namespace {

// Records the inhibitor calls; it never gets one, so every engine start asks again.
class RecordingInhibitor : public ISleepDelayInhibitor {
public:
    explicit RecordingInhibitor(fv_test::EventRecorder<std::string>& calls) : m_calls(calls) {}
    bool hold() override
    {
        m_calls.record("hold");
        return false;
    }
    void release() override { m_calls.record("release"); }
    bool isHeld() const override { return false; }

private:
    fv_test::EventRecorder<std::string>& m_calls;
};

class CountingPreventer : public ISleepPreventer {
public:
    bool prevent() override
    {
        m_preventing = true;
        return true;
    }
    bool isPreventing() override { return m_preventing; }
    bool allow() override
    {
        m_preventing = false;
        return true;
    }

private:
    std::atomic<bool> m_preventing{false};
};

// One thread waits in enterAndWait until the test opens the gate.
class Gate {
public:
    void enter()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_entered = true;
        m_changed.notify_all();
    }
    void enterAndWait()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_entered = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_open; });
    }
    bool waitEntered()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_entered; });
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_entered = false;
    bool m_open = false;
};

// What the test proxy was asked to do; it outlives the proxy.
struct ProxyRecord {
    fv_test::EventRecorder<std::string> calls;
    std::function<void()> beforeShutdown;
};

// A proxy without an engine: it records its halves and reports the engine's start and stop.
class TestProxy : public CTransferManagerProxyBase {
public:
    TestProxy(Environment environment, ProxyRecord& record)
        : CTransferManagerProxyBase("fv-test", std::move(environment)), m_record(record)
    {
        enableSleepHandling();
    }
    ~TestProxy() override
    {
        disableSleepHandling();
        m_record.calls.record("destroyed");
    }

    using CTransferManagerProxyBase::activeTransfersCallback;
    using CTransferManagerProxyBase::createTasksExecutor;
    using CTransferManagerProxyBase::onEngineStarted;
    using CTransferManagerProxyBase::releaseTasksExecutor;
    using CTransferManagerProxyBase::setPreventSleep;
    using CTransferManagerProxyBase::setTasksExecutorCapacity;
    const std::shared_ptr<CTrasfersAsyncTasksExecutor>& executor() const { return m_tasksExecutor; }

protected:
    void startupLocked() override
    {
        m_record.calls.record("startup");
        onEngineStarted();
    }
    void shutdownLocked() override
    {
        if (m_record.beforeShutdown)
            m_record.beforeShutdown();
        m_record.calls.record("shutdown");
        onEngineStopped();
    }

private:
    ProxyRecord& m_record;
};

int countOf(const std::vector<std::string>& values, const std::string& value)
{
    return static_cast<int>(std::count(values.begin(), values.end(), value));
}

void raiseSleep(ISleepNotifier& notifier, bool sleeping)
{
    notifier.sleepEvent.notify(nullptr, sleeping);
}

// One proxy over fakes of everything the platform gives.
struct SleepRig {
    explicit SleepRig(std::chrono::milliseconds bound = std::chrono::seconds(60))
        : counter(std::make_shared<CountingPreventer>())
    {
        CTransferManagerProxyBase::Environment environment;
        environment.sleepNotifier = notifier;
        environment.reachabilityFactory = checkers.factory();
        environment.reachabilityBound = bound;
        environment.delayInhibitorFactory = [this] { return std::make_unique<RecordingInhibitor>(inhibitorCalls); };
        environment.sleepCounter = &counter;
        proxy = std::make_unique<TestProxy>(environment, record);
    }

    // Everything posted to the proxy's own thread before this call has run.
    void flushPowerThread()
    {
        const std::size_t holds = countOf(inhibitorCalls.values(), "hold") + 1;
        proxy->onEngineStarted();
        ASSERT_TRUE(fv_test::waitUntil([&] { return countOf(inhibitorCalls.values(), "hold") >= int(holds); }));
    }

    std::shared_ptr<ISleepNotifier> notifier = std::make_shared<ISleepNotifier>();
    Checkers checkers;
    fv_test::EventRecorder<std::string> inhibitorCalls;
    CSleepPreventerCounterProxy counter;
    ProxyRecord record;
    std::unique_ptr<TestProxy> proxy;
};

} // namespace

TEST(TransferManagerProxyBase, SleepWakeAndReachabilityFollowTheStateTable)
{
    // S: sleep, W: wake, R: the newest checker reports, *: wait for the fallback start-up.
    struct Case {
        const char* events;
        bool factoryThrows;
        int startups;
        int shutdowns;
        int checkers;
        int ignoring;
        int unexpected;
        int factoryErrors;
    };
    const Case cases[] = {
        {"SS", false, 0, 1, 0, 1, 0, 0},  {"SWR", false, 1, 1, 1, 0, 0, 0},  {"WWR", false, 1, 0, 1, 0, 0, 0},
        {"R", false, 0, 0, 0, 0, 0, 0},   {"W*W", true, 1, 0, 1, 0, 0, 1},   {"WSR", false, 0, 1, 1, 0, 0, 0},
        {"WRR", false, 1, 0, 1, 0, 0, 0}, {"SWRS", false, 1, 2, 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        fv_test::Watchdog watchdog(std::string("sleep events ") + c.events);
        fv_test::LogCapture log;
        // The fallback bound only matters where the factory fails; elsewhere it must not fire.
        SleepRig rig(c.factoryThrows ? std::chrono::milliseconds(50) : std::chrono::milliseconds(600000));
        rig.checkers.failing = c.factoryThrows;
        for (const char* event = c.events; *event; ++event) {
            switch (*event) {
            case 'S': raiseSleep(*rig.notifier, true); break;
            case 'W': raiseSleep(*rig.notifier, false); break;
            case 'R': rig.checkers.fireNewest(); break;
            case '*':
                ASSERT_TRUE(rig.record.calls.waitForCount(1)) << c.events;
                rig.checkers.failing = false;
                break;
            }
        }
        const std::vector<std::string> calls = rig.record.calls.values();
        EXPECT_EQ(c.startups, countOf(calls, "startup")) << c.events;
        EXPECT_EQ(c.shutdowns, countOf(calls, "shutdown")) << c.events;
        EXPECT_EQ(c.checkers, rig.checkers.made()) << c.events;
        EXPECT_EQ(c.ignoring, log.count("Ignoring sleep notification, since already received one!")) << c.events;
        EXPECT_EQ(c.factoryErrors, log.count("fv_transfers::CTransferManagerProxyBase::onSleep: Exception: "))
            << c.events;
        EXPECT_EQ(c.unexpected, log.count("Received reachability callback when it was not expected")) << c.events;
    }
}

TEST(TransferManagerProxyBase, AReportOfAWaitThatASleepEndedStartsNothing)
{
    fv_test::Watchdog watchdog("a late reachability report");
    fv_test::LogCapture log;
    SleepRig rig;
    raiseSleep(*rig.notifier, false);
    ASSERT_EQ(1, rig.checkers.made());

    Gate shutdownGate;
    rig.record.beforeShutdown = [&] { shutdownGate.enterAndWait(); };
    std::thread sleeper([&] { raiseSleep(*rig.notifier, true); });
    ASSERT_TRUE(shutdownGate.waitEntered());
    // The checker reports while the sleep holds the proxy: its delivery waits for the proxy lock.
    Gate firing;
    rig.checkers.beforeFire = [&] { firing.enter(); };
    std::thread reporter([&] { rig.checkers.fireNewest(); });
    ASSERT_TRUE(firing.waitEntered());
    shutdownGate.open();
    sleeper.join();
    reporter.join();

    EXPECT_EQ((std::vector<std::string>{"shutdown"}), rig.record.calls.values());
    EXPECT_EQ(1, log.count("Received reachability callback when it was not expected"));
}

TEST(TransferManagerProxyBase, TheDelayInhibitorIsHeldOnlyWhileTheEngineRuns)
{
    fv_test::FakeLogind logind;
    fv_test::Watchdog watchdog("sleep with a delay inhibitor");
    auto notifier = std::make_shared<ISleepNotifier>();
    Checkers checkers;
    CSleepPreventerCounterProxy counter(std::make_shared<CountingPreventer>());
    ProxyRecord record;
    CTransferManagerProxyBase::Environment environment;
    environment.sleepNotifier = notifier;
    environment.reachabilityFactory = checkers.factory();
    environment.sleepCounter = &counter;
    auto delayInhibitors = [&] {
        std::size_t count = 0;
        for (const auto& inhibitor : logind.listInhibitors())
            if (inhibitor.who == "fv-transfers" && inhibitor.mode == "delay" && inhibitor.what == "sleep")
                ++count;
        return count;
    };
    {
        TestProxy proxy(environment, record);
        EXPECT_EQ(0u, delayInhibitors());
        proxy.startup();
        ASSERT_TRUE(fv_test::waitUntil([&] { return delayInhibitors() == 1; }));

        raiseSleep(*notifier, true);
        EXPECT_EQ(1, countOf(record.calls.values(), "shutdown"));
        // Released by the time the sleep delivery returns: logind may suspend at once.
        EXPECT_TRUE(logind.waitForInhibitorCount(0));

        raiseSleep(*notifier, false);
        ASSERT_TRUE(checkers.fireNewest());
        EXPECT_EQ(2, countOf(record.calls.values(), "startup"));
        ASSERT_TRUE(fv_test::waitUntil([&] { return delayInhibitors() == 1; }));
        EXPECT_EQ(1u, logind.listInhibitors().size());
    }
    EXPECT_TRUE(logind.waitForInhibitorCount(0));
}

TEST(TransferManagerProxyBase, AProxyDestroyedDuringASleepDeliveryIsNotCalledAfterwards)
{
    fv_test::Watchdog watchdog("destroying a proxy during a sleep delivery");
    SleepRig rig;
    Gate gate;
    rig.record.beforeShutdown = [&] { gate.enterAndWait(); };
    std::thread sleeper([&] { raiseSleep(*rig.notifier, true); });
    ASSERT_TRUE(gate.waitEntered());
    std::thread destroyer([&] { rig.proxy.reset(); });
    gate.open();
    destroyer.join();
    sleeper.join();
    // The delivery ended before the proxy went; later events find no subscriber.
    raiseSleep(*rig.notifier, false);
    raiseSleep(*rig.notifier, true);
    EXPECT_EQ((std::vector<std::string>{"shutdown", "destroyed"}), rig.record.calls.values());
}

TEST(TransferManagerProxyBase, AProxyBuiltBeforeTheLibraryStartsWorksWithoutSleepHandling)
{
    fv_test::LogCapture log;
    ProxyRecord record;
    CSleepPreventerCounterProxy counter(std::make_shared<CountingPreventer>());
    CTransferManagerProxyBase::Environment environment;
    environment.sleepCounter = &counter;
    {
        TestProxy proxy(environment, record);
        proxy.startup();
        proxy.shutdown();
    }
    EXPECT_EQ(1, log.count("fv_transfers::CTransferManagerProxyBase::CTransferManagerProxyBase: Exception: "));
    EXPECT_EQ((std::vector<std::string>{"startup", "shutdown", "destroyed"}), record.calls.values());
}

TEST(TransferManagerProxyBase, TheSleepCountIsTakenOnceAndGivenBack)
{
    fv_test::Watchdog watchdog("sleep counter accounting");
    SleepRig rig;
    auto preventer = std::make_shared<CountingPreventer>();
    CSleepPreventerCounterProxy counter(preventer);
    // Rebuild the proxy over a counter the test can see.
    rig.proxy.reset();
    CTransferManagerProxyBase::Environment environment;
    environment.sleepNotifier = rig.notifier;
    environment.reachabilityFactory = rig.checkers.factory();
    environment.delayInhibitorFactory = [&] { return std::make_unique<RecordingInhibitor>(rig.inhibitorCalls); };
    environment.sleepCounter = &counter;
    rig.proxy = std::make_unique<TestProxy>(environment, rig.record);

    // Another manager counts all along: this proxy must neither cancel nor double its count.
    counter.sleepCounterIncrement();
    rig.proxy->activeTransfersCallback(true);
    rig.proxy->setPreventSleep(true); // turned on while transfers run: counts once
    rig.proxy->setPreventSleep(true);
    rig.proxy->setPreventSleep(false);
    rig.proxy->setPreventSleep(true);
    rig.proxy->setPreventSleep(false);
    rig.flushPowerThread();
    counter.sleepCounterDecrement();
    EXPECT_FALSE(preventer->isPreventing()); // back to the start: the other's count was the last

    rig.proxy->setPreventSleep(true);
    rig.flushPowerThread();
    EXPECT_TRUE(preventer->isPreventing());
    rig.proxy->activeTransfersCallback(false);
    rig.proxy->activeTransfersCallback(true);
    rig.flushPowerThread();
    EXPECT_TRUE(preventer->isPreventing());
    // The proxy goes while it counts: its count goes with it.
    rig.proxy.reset();
    EXPECT_FALSE(preventer->isPreventing());
}

namespace {

class EmptyGroupManager : public CGroupManagerBase {
protected:
    GroupPtr configureGroup(const CGroupsDbInfoBase::GroupInfo&, std::uint64_t, bool) override { return nullptr; }
    GroupPtr createGroup(GroupInitParams&) override { return nullptr; }
    bool collectGroupInfos(CDbDataLoader&, std::vector<GroupInfoPtr>&) override { return false; }
    bool selectMaxStoredGroupId(std::int32_t& maxGroupId) override
    {
        maxGroupId = -1;
        return true;
    }
};

// Runs until it is asked to stop; counts its runs.
class GateTask : public CTrasfersAsyncTasksExecutor::IAsyncTask {
public:
    int exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>&, const CStopToken& stop) override
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            ++m_runs;
            m_changed.notify_all();
        }
        // Only the executor's stop ends it.
        stop.waitFor(std::chrono::seconds(60));
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_finished;
        return 0;
    }
    bool waitRunning()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_runs > 0; });
    }
    int runs()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_runs;
    }
    int finished()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_finished;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_runs = 0;
    int m_finished = 0;
};

} // namespace

TEST(TransferManagerProxyBase, TheExecutorIsAtLeastOneWideAndEndsItsTasksOnRelease)
{
    fv_test::Watchdog watchdog("releasing the task executor");
    SleepRig rig;
    EmptyGroupManager manager;
    rig.proxy->createTasksExecutor(0, manager, nullptr);
    ASSERT_TRUE(rig.proxy->executor());
    EXPECT_EQ(1u, rig.proxy->executor()->capacity());
    rig.proxy->setTasksExecutorCapacity(0);
    EXPECT_EQ(1u, rig.proxy->executor()->capacity());
    rig.proxy->setTasksExecutorCapacity(3);
    EXPECT_EQ(3u, rig.proxy->executor()->capacity());
    rig.proxy->setTasksExecutorCapacity(1);

    std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = rig.proxy->executor();
    auto running = std::make_shared<GateTask>();
    auto queued = std::make_shared<GateTask>();
    auto runningDone = executor->queueTask(running);
    auto queuedDone = executor->queueTask(queued);
    ASSERT_TRUE(running->waitRunning());
    executor.reset();
    // The group manager still holds the executor, yet the release ends its tasks.
    ASSERT_TRUE(manager.getTasksExecutor());
    rig.proxy->releaseTasksExecutor();
    EXPECT_FALSE(rig.proxy->executor());
    EXPECT_EQ(1, running->finished());
    EXPECT_EQ(0, queued->runs());
    EXPECT_TRUE(queuedDone->isFinished());
    EXPECT_FALSE(queuedDone->ran());
    manager.setTasksExecutor(nullptr);
}
