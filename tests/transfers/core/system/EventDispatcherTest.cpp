#include "core/system/EventDispatcher.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/StopSignal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using fv_transfers::CEventDispatcher;

namespace {

// Set when the thread that touched it has ended.
std::atomic<int> g_endedThreads{0};
struct ThreadEndMarker {
    bool touched = false;
    ~ThreadEndMarker()
    {
        if (touched)
            ++g_endedThreads;
    }
};
thread_local ThreadEndMarker t_endMarker;

} // namespace

TEST(EventDispatcher, StopDropsQueuedTasksAndWaitsForTheRunningOne)
{
    CEventDispatcher dispatcher("fv-test-events");
    fv_test::EventRecorder<int> entered;
    std::atomic<int> ran{0};
    fv_test::StopSignal gate;
    ASSERT_TRUE(dispatcher.post([&] {
        entered.record(1);
        gate.waitFor(std::chrono::seconds(5)); // bounded: a broken stop fails instead of hanging
        ++ran;
    }));
    ASSERT_TRUE(dispatcher.post([&] { ++ran; }));
    ASSERT_TRUE(entered.waitForCount(1));

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        dispatcher.stop();
        stopped = true;
    });
    // Once stop has begun nothing more is accepted; the running task still holds stop up.
    EXPECT_TRUE(fv_test::waitUntil([&] { return !dispatcher.post([&] { ++ran; }); }));
    EXPECT_FALSE(stopped);
    gate.raise();
    stopper.join();
    EXPECT_EQ(1, ran.load());
}

TEST(EventDispatcher, StopFromItsOwnTaskLeavesTheJoinToTheOwner)
{
    fv_test::Watchdog watchdog("a dispatcher stopped by its own task");
    auto dispatcher = std::make_unique<CEventDispatcher>("fv-test-events");
    fv_test::EventRecorder<int> stopped;
    ASSERT_TRUE(dispatcher->post([&] {
        t_endMarker.touched = true;
        dispatcher->stop(); // returns at once: it cannot wait for itself
        stopped.record(1);
        // Still running well after its owner is told the dispatcher has stopped.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }));
    ASSERT_TRUE(stopped.waitForCount(1));
    EXPECT_FALSE(dispatcher->post([] {}));
    dispatcher.reset(); // joins the thread
    EXPECT_EQ(1, g_endedThreads.load());
}

TEST(EventDispatcher, MayBeDestroyedByItsOwnTask)
{
    // Several times: each hand-over of a thread that cannot join itself joins the earlier ones.
    fv_test::EventRecorder<int> destroyed;
    for (int round = 0; round < 3; ++round) {
        auto dispatcher = std::make_unique<CEventDispatcher>("fv-test-events");
        ASSERT_TRUE(dispatcher->post([&] {
            dispatcher.reset();
            destroyed.record(1);
        }));
        EXPECT_TRUE(destroyed.waitForCount(round + 1)) << round;
    }
}
