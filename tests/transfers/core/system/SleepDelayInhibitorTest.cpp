#include "core/system/SleepDelayInhibitor.h"

#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>

#include <chrono>

using fv_transfers::createSleepDelayInhibitor;

TEST(SleepDelayInhibitorLinux, HoldsOneDelayInhibitorUntilReleased)
{
    fv_test::FakeLogind logind;
    {
        auto inhibitor = createSleepDelayInhibitor();
        EXPECT_FALSE(inhibitor->isHeld());
        ASSERT_TRUE(inhibitor->hold());
        ASSERT_TRUE(inhibitor->hold()); // already held: no second one
        EXPECT_TRUE(inhibitor->isHeld());
        const auto inhibitors = logind.listInhibitors();
        ASSERT_EQ(1u, inhibitors.size());
        EXPECT_EQ("sleep", inhibitors[0].what);
        EXPECT_EQ("fv-transfers", inhibitors[0].who);
        EXPECT_EQ("Stopping transfers", inhibitors[0].why);
        EXPECT_EQ("delay", inhibitors[0].mode);

        inhibitor->release();
        EXPECT_FALSE(inhibitor->isHeld());
        EXPECT_TRUE(logind.waitForInhibitorCount(0));
        inhibitor->release(); // nothing held: nothing happens

        ASSERT_TRUE(inhibitor->hold());
        EXPECT_TRUE(logind.waitForInhibitorCount(1));
    }
    // Destroyed while held: let go.
    EXPECT_TRUE(logind.waitForInhibitorCount(0));
}

TEST(SleepDelayInhibitorLinux, WithoutASystemBusHoldsNothingAndWarnsOnce)
{
    fv_test::NoSystemBus noBus;
    fv_test::Watchdog watchdog("a delay inhibitor without a system bus");
    fv_test::LogCapture log;
    auto inhibitor = createSleepDelayInhibitor(std::chrono::milliseconds(200));
    EXPECT_FALSE(inhibitor->hold());
    EXPECT_FALSE(inhibitor->hold());
    EXPECT_FALSE(inhibitor->isHeld());
    inhibitor->release();
    EXPECT_EQ(1, log.count("fv_transfers::CSleepDelayInhibitorLinux::hold: no system bus"));
}
