#include "core/base/DtError.h"
#include "framework/TrasfersAsyncTasksExecutor.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/StopSignal.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using fv_transfers::CStopToken;
using fv_transfers::CTrasfersAsyncTasksExecutor;
using fv_transfers::TaskCompletion;
using Executor = CTrasfersAsyncTasksExecutor;

namespace {

constexpr std::chrono::seconds kDeadline{10};

// The tests' gates: opened once by the test; a task waits on one with the deadline, so a broken
// run fails instead of hanging.
using Gate = fv_test::StopSignal;

struct NumberParams : Executor::IAsyncTaskParams {
    explicit NumberParams(int v) : value(v) {}
    int value;
};

std::string currentThreadName()
{
    char name[16] = {};
    ::pthread_getname_np(::pthread_self(), name, sizeof(name));
    return name;
}

// Records each run (its parameter, or -1 without one) and, when given a gate, holds the run there.
class RecordingTask : public Executor::IAsyncTask {
public:
    explicit RecordingTask(Gate* gate = nullptr, int result = 42) : m_gate(gate), m_result(result) {}

    int exec(std::shared_ptr<Executor::IAsyncTaskParams>& params, const CStopToken&) override
    {
        const int running = ++m_running;
        int expected = maxRunning.load();
        while (running > expected && !maxRunning.compare_exchange_weak(expected, running)) {
        }
        auto* number = dynamic_cast<NumberParams*>(params.get());
        threadNames.record(currentThreadName());
        runs.record(number ? number->value : -1);
        if (m_gate)
            m_gate->waitFor(kDeadline);
        --m_running;
        return m_result;
    }

    fv_test::EventRecorder<int> runs;
    fv_test::EventRecorder<std::string> threadNames;
    std::atomic<int> maxRunning{0};

private:
    Gate* m_gate;
    int m_result;
    std::atomic<int> m_running{0};
};

} // namespace

TEST(TrasfersAsyncTasksExecutor, QueuingAWaitingTaskAgainMergesIntoOneFlight)
{
    Executor executor(1, "fv-ul-task-");
    Gate busy;
    auto blocker = std::make_shared<RecordingTask>(&busy);
    executor.queueTask(blocker);
    ASSERT_TRUE(blocker->runs.waitForCount(1));

    auto task = std::make_shared<RecordingTask>(nullptr, 7);
    fv_test::EventRecorder<std::string> callbacks;
    const auto first = executor.queueTask(task, std::make_shared<NumberParams>(1),
                                          [&](int code) { callbacks.record("first " + std::to_string(code)); });
    const auto second = executor.queueTask(task, std::make_shared<NumberParams>(2),
                                           [&](int code) { callbacks.record("second " + std::to_string(code)); });
    EXPECT_EQ(first.get(), second.get());
    busy.raise();

    ASSERT_TRUE(first->waitFor(kDeadline));
    EXPECT_TRUE(first->ran());
    EXPECT_EQ(7, first->result());
    // Both callbacks ran on the worker before the waiters woke, and the task ran once, with the
    // newest parameters.
    EXPECT_EQ((std::vector<std::string>{"first 7", "second 7"}), callbacks.values());
    for (const auto& thread : callbacks.threads())
        EXPECT_NE(std::this_thread::get_id(), thread);
    EXPECT_EQ(std::vector<int>{2}, task->runs.values());
}

TEST(TrasfersAsyncTasksExecutor, ATaskQueuedWhileItRunsRunsAgainAfterwardsNeverAlongside)
{
    Executor executor(3, "fv-ul-task-");
    Gate release;
    auto task = std::make_shared<RecordingTask>(&release);
    const auto running = executor.queueTask(task, std::make_shared<NumberParams>(1));
    ASSERT_TRUE(task->runs.waitForCount(1));
    const auto next = executor.queueTask(task, std::make_shared<NumberParams>(2));
    EXPECT_NE(running.get(), next.get());
    EXPECT_FALSE(next->isFinished());
    release.raise();

    ASSERT_TRUE(next->waitFor(kDeadline));
    EXPECT_TRUE(running->isFinished());
    EXPECT_EQ((std::vector<int>{1, 2}), task->runs.values());
    EXPECT_EQ(1, task->maxRunning.load());
}

TEST(TrasfersAsyncTasksExecutor, DestructionWaitsForTheRunningTaskAndWakesEveryWaiter)
{
    fv_test::Watchdog watchdog("destroying an executor with a task running");
    auto executor = std::make_unique<Executor>(1, "fv-dl-task-");
    Gate afterStop;
    // Sees the stop, then stays in a step that ignores it until the test opens the gate.
    class StubbornTask : public Executor::IAsyncTask {
    public:
        explicit StubbornTask(Gate& gate) : m_gate(gate) {}
        int exec(std::shared_ptr<Executor::IAsyncTaskParams>&, const CStopToken& stop) override
        {
            events.record("started");
            if (stop.waitFor(kDeadline))
                events.record("stop seen");
            m_gate.waitFor(kDeadline);
            events.record("returning");
            return fv_transfers::dt_interrupted;
        }
        fv_test::EventRecorder<std::string> events;

    private:
        Gate& m_gate;
    };
    auto stubborn = std::make_shared<StubbornTask>(afterStop);
    fv_test::EventRecorder<std::string> order;
    const auto running = executor->queueTask(stubborn, nullptr, [&](int) { order.record("callback"); });
    ASSERT_TRUE(stubborn->events.waitForCount(1));

    auto neverRun = std::make_shared<RecordingTask>();
    const auto waiting = executor->queueTask(neverRun, nullptr, [&](int) { order.record("dropped callback"); });
    std::thread waiter([&] {
        waiting->wait();
        order.record("waiter woken");
    });

    std::thread destroyer([&] {
        executor.reset();
        order.record("destroyed");
    });
    ASSERT_TRUE(stubborn->events.waitForCount(2)); // the stop reached the task: destruction began
    ASSERT_TRUE(order.waitForCount(1));
    EXPECT_EQ(std::vector<std::string>{"waiter woken"}, order.values());
    afterStop.raise();
    destroyer.join();
    waiter.join();

    // The worker finished with the executor before the destructor returned.
    EXPECT_EQ((std::vector<std::string>{"waiter woken", "callback", "destroyed"}), order.values());
    EXPECT_TRUE(running->ran());
    EXPECT_EQ(fv_transfers::dt_interrupted, running->result());
    EXPECT_FALSE(waiting->ran());
    EXPECT_EQ(fv_transfers::dt_cancelled, waiting->result());
    EXPECT_TRUE(neverRun->runs.values().empty());
}

TEST(TrasfersAsyncTasksExecutor, CapacityZeroStillRunsTasks)
{
    Executor executor(0, "fv-ul-task-");
    EXPECT_EQ(1u, executor.capacity());
    auto task = std::make_shared<RecordingTask>();
    EXPECT_TRUE(executor.queueTask(task)->waitFor(kDeadline));

    executor.setCapacity(0);
    EXPECT_EQ(1u, executor.capacity());
    EXPECT_TRUE(executor.queueTask(task)->waitFor(kDeadline));
    EXPECT_EQ(2u, task->runs.values().size());
}

TEST(TrasfersAsyncTasksExecutor, RemovingATaskUnderALockItNeedsDoesNotDeadlock)
{
    fv_test::Watchdog watchdog("removeTask under a lock the task takes");
    Executor executor(1, "fv-dl-task-");
    std::mutex fileLock;
    Gate proceed;
    class LockingTask : public Executor::IAsyncTask {
    public:
        LockingTask(std::mutex& lock, Gate& gate) : m_lock(lock), m_gate(gate) {}
        int exec(std::shared_ptr<Executor::IAsyncTaskParams>&, const CStopToken& stop) override
        {
            started.record(1);
            m_gate.waitFor(kDeadline);
            std::lock_guard<std::mutex> lock(m_lock);
            stopSeen = stop.stopRequested();
            return 0;
        }
        fv_test::EventRecorder<int> started;
        std::atomic<bool> stopSeen{false};

    private:
        std::mutex& m_lock;
        Gate& m_gate;
    };
    auto task = std::make_shared<LockingTask>(fileLock, proceed);
    const auto running = executor.queueTask(task);
    ASSERT_TRUE(task->started.waitForCount(1));
    const auto queuedAgain = executor.queueTask(task);

    std::shared_ptr<TaskCompletion> toWaitFor;
    {
        std::lock_guard<std::mutex> lock(fileLock);
        proceed.raise(); // the task now blocks on fileLock
        toWaitFor = executor.removeTask(task.get());
        // The waiting flight is dropped at once; the running one is handed back, not waited for.
        EXPECT_TRUE(queuedAgain->isFinished());
        EXPECT_FALSE(queuedAgain->ran());
    }
    ASSERT_EQ(running.get(), toWaitFor.get());
    ASSERT_TRUE(toWaitFor->waitFor(kDeadline));
    EXPECT_TRUE(toWaitFor->ran());
    EXPECT_TRUE(task->stopSeen);
    EXPECT_EQ(nullptr, executor.removeTask(task.get()));
}

TEST(TrasfersAsyncTasksExecutor, IdleWorkersLeaveAndNewOnesStartOnDemand)
{
    Executor executor(2, "fv-ul-task-", std::chrono::milliseconds(20));
    EXPECT_EQ(0u, executor.workerCount());
    auto task = std::make_shared<RecordingTask>();
    ASSERT_TRUE(executor.queueTask(task)->waitFor(kDeadline));
    EXPECT_TRUE(fv_test::waitUntil([&] { return executor.workerCount() == 0; }));

    ASSERT_TRUE(executor.queueTask(task)->waitFor(kDeadline));
    EXPECT_EQ((std::vector<std::string>{"fv-ul-task-1", "fv-ul-task-2"}), task->threadNames.values());
}

TEST(TrasfersAsyncTasksExecutor, LoweringTheCapacityLetsRunningTasksFinishThenSurplusWorkersLeave)
{
    Executor executor(3, "fv-dl-task-");
    Gate release;
    std::vector<std::shared_ptr<RecordingTask>> tasks;
    std::vector<std::shared_ptr<TaskCompletion>> completions;
    for (int i = 0; i < 3; ++i) {
        tasks.push_back(std::make_shared<RecordingTask>(&release));
        completions.push_back(executor.queueTask(tasks.back()));
    }
    for (const auto& task : tasks)
        ASSERT_TRUE(task->runs.waitForCount(1));
    EXPECT_EQ(3u, executor.workerCount());

    executor.setCapacity(1);
    release.raise();
    for (const auto& completion : completions) {
        ASSERT_TRUE(completion->waitFor(kDeadline));
        EXPECT_TRUE(completion->ran());
    }
    EXPECT_TRUE(fv_test::waitUntil([&] { return executor.workerCount() == 1; }));
    EXPECT_TRUE(executor.queueTask(tasks.front())->waitFor(kDeadline));
}
