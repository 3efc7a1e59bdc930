#include "core/system/ConnectivityBroadcaster.h"
#include "core/system/ServiceWindow.h"
#include "core/system/linux/NetworkMonitorLinux.h"
#include "core/system/linux/ReachabilityCheckerLinux.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/FakeLogind.h"

#include <Poco/Delegate.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

using fv_transfers::CConnectivityBroadcaster;
using fv_transfers::CNetworkMonitorLinux;
using fv_transfers::CReachabilityCheckerLinux;
using fv_transfers::CServiceWindow;

namespace {

struct ReachabilityListener {
    fv_test::EventRecorder<bool> values;
    void onReachable(const bool& reachable) { values.record(reachable); }
};

// Gives a checker every chance to raise a late event before the test counts.
void settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

} // namespace

TEST(ReachabilityChecker, ReportsReachabilityOncePerStart)
{
    struct Case {
        bool initial;
        const char* published; // '1' reachable, '0' not
        std::size_t events;
    };
    const Case cases[] = {
        {true, "", 1}, {false, "", 0}, {false, "0", 0}, {false, "01", 1}, {true, "0101", 1}, {false, "111", 1},
    };
    for (const Case& c : cases) {
        auto source = std::make_shared<CConnectivityBroadcaster>(c.initial);
        ReachabilityListener listener;
        {
            CReachabilityCheckerLinux checker(source);
            checker.reachabilityEvent += Poco::delegate(&listener, &ReachabilityListener::onReachable);
            checker.start();
            for (const char* p = c.published; *p; ++p)
                source->publish(*p == '1');
            if (c.events > 0) {
                ASSERT_TRUE(listener.values.waitForCount(c.events)) << c.initial << c.published;
            }
            settle();
            checker.reachabilityEvent -= Poco::delegate(&listener, &ReachabilityListener::onReachable);
        }
        EXPECT_EQ(std::vector<bool>(c.events, true), listener.values.values()) << c.initial << c.published;
    }
}

TEST(ReachabilityChecker, DeliversOnItsOwnThreadAndReportsAgainAfterRestart)
{
    auto source = std::make_shared<CConnectivityBroadcaster>(true);
    ReachabilityListener listener;
    CReachabilityCheckerLinux checker(source);
    checker.reachabilityEvent += Poco::delegate(&listener, &ReachabilityListener::onReachable);
    checker.start();
    ASSERT_TRUE(listener.values.waitForCount(1));
    checker.start();
    ASSERT_TRUE(listener.values.waitForCount(2));
    for (const auto& id : listener.values.threads())
        EXPECT_NE(std::this_thread::get_id(), id);
    checker.reachabilityEvent -= Poco::delegate(&listener, &ReachabilityListener::onReachable);
}

TEST(ReachabilityChecker, NoEventReachesSubscribersAfterDestruction)
{
    auto source = std::make_shared<CConnectivityBroadcaster>(false);
    struct SlowListener {
        std::atomic<int> entered{0};
        std::atomic<int> finished{0};
        void onReachable(const bool&)
        {
            ++entered;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ++finished;
        }
    } listener;
    {
        auto checker = std::make_unique<CReachabilityCheckerLinux>(source);
        checker->reachabilityEvent += Poco::delegate(&listener, &SlowListener::onReachable);
        checker->start();
        source->publish(true);
        ASSERT_TRUE(fv_test::waitUntil([&] { return listener.entered > 0; }));
        checker->start(); // queues a second report behind the running one
        checker.reset();  // waits for the running delivery, drops the queued one
        EXPECT_EQ(listener.entered.load(), listener.finished.load());
    }
    const int delivered = listener.entered;
    source->publish(false);
    source->publish(true);
    settle();
    EXPECT_EQ(delivered, listener.entered.load());
}

TEST(ReachabilityChecker, CheckerMayBeDestroyedByItsOwnSubscriber)
{
    auto source = std::make_shared<CConnectivityBroadcaster>(true);
    struct Owner {
        std::unique_ptr<CReachabilityCheckerLinux> checker;
        std::atomic<bool> done{false};
        void onReachable(const bool&)
        {
            checker.reset();
            done = true; // the last touch of the owner
        }
    } owner;
    owner.checker = std::make_unique<CReachabilityCheckerLinux>(source);
    owner.checker->reachabilityEvent += Poco::delegate(&owner, &Owner::onReachable);
    owner.checker->start();
    EXPECT_TRUE(fv_test::waitUntil([&] { return owner.done.load(); }));
}

TEST(ReachabilityChecker, NeedsTheServiceWindow)
{
    try {
        CReachabilityCheckerLinux checker;
        FAIL() << "no exception";
    } catch (const CReachabilityCheckerLinux::CReachabilityCreationFailure& e) {
        EXPECT_EQ(std::string("Failed to create system component required for reachability check: GNetworkMonitor"),
                  e.what());
    }
}

TEST(ReachabilityChecker, OnlyFullConnectivityCounts)
{
    struct Case {
        gboolean available;
        GNetworkConnectivity connectivity;
        bool reachable;
    };
    const Case cases[] = {
        {TRUE, G_NETWORK_CONNECTIVITY_FULL, true},     {TRUE, G_NETWORK_CONNECTIVITY_LOCAL, false},
        {TRUE, G_NETWORK_CONNECTIVITY_LIMITED, false}, {TRUE, G_NETWORK_CONNECTIVITY_PORTAL, false},
        {FALSE, G_NETWORK_CONNECTIVITY_FULL, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.reachable, CNetworkMonitorLinux::isReachable(c.available, c.connectivity)) << c.connectivity;
}

TEST(ReachabilityChecker, FollowsTheSystemNetworkMonitor)
{
    // The host's network is not changed here: the checker must agree with what GIO sees now.
    fv_test::NoSystemBus noBus;
    GNetworkMonitor* system = g_network_monitor_get_default();
    const bool expected = CNetworkMonitorLinux::isReachable(g_network_monitor_get_network_available(system),
                                                            g_network_monitor_get_connectivity(system));
    ASSERT_TRUE(CServiceWindow::create());
    EXPECT_EQ(expected, CServiceWindow::getInstance()->connectivity()->isReachable());
    {
        ReachabilityListener listener;
        CReachabilityCheckerLinux checker;
        checker.reachabilityEvent += Poco::delegate(&listener, &ReachabilityListener::onReachable);
        checker.start();
        if (expected) {
            EXPECT_TRUE(listener.values.waitForCount(1));
        } else {
            settle();
            EXPECT_TRUE(listener.values.values().empty());
        }
        checker.reachabilityEvent -= Poco::delegate(&listener, &ReachabilityListener::onReachable);
    }
    CServiceWindow::destroy();
}
