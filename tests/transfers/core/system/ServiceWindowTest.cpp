#include "core/system/ServiceWindow.h"
#include "core/system/SleepNotifierHolder.h"
#include "core/system/linux/SleepNotifierLinux.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/Watchdog.h"

#include <Poco/Delegate.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

using fv_transfers::CServiceWindow;
using fv_transfers::CSleepNotifierHolder;
using fv_transfers::CSleepNotifierLinux;

namespace {

struct PowerListener {
    fv_test::EventRecorder<std::uint32_t> modes;
    void onPower(const CServiceWindow::PowerModeChangeData& data) { modes.record(data.powerMode); }
};

struct SleepListener {
    fv_test::EventRecorder<bool> values;
    void onSleep(const bool& goingToSleep) { values.record(goingToSleep); }
};

} // namespace

TEST(ServiceWindow, MissingWindowIsReportedByAccessorAndNotifier)
{
    const char* const text = "Service window is not initialized (CServiceWindow::initialize has not been called)";
    try {
        CServiceWindow::getInstance();
        FAIL() << "no exception";
    } catch (const CServiceWindow::CNotInitializedException& e) {
        EXPECT_STREQ(text, e.what());
    }
    EXPECT_THROW(CSleepNotifierLinux(), CServiceWindow::CNotInitializedException);
    EXPECT_THROW(CSleepNotifierHolder::getInstance(), CServiceWindow::CNotInitializedException);
}

TEST(ServiceWindow, PrepareForSleepRaisesSuspendThenResumeOnItsOwnThread)
{
    fv_test::FakeLogind logind;
    CServiceWindow window;
    ASSERT_TRUE(window.listensToPower());
    PowerListener listener;
    window.powerEvent += Poco::delegate(&listener, &PowerListener::onPower);

    logind.emitPrepareForSleep(true);
    logind.emitPrepareForSleep(false);

    ASSERT_TRUE(listener.modes.waitForCount(2));
    EXPECT_EQ((std::vector<std::uint32_t>{CServiceWindow::kPowerModeSuspending, CServiceWindow::kPowerModeResumed}),
              listener.modes.values());
    for (const auto& id : listener.modes.threads())
        EXPECT_NE(std::this_thread::get_id(), id);
    window.powerEvent -= Poco::delegate(&listener, &PowerListener::onPower);
}

TEST(ServiceWindow, SleepNotifierReportsSleepAndWakeOnlyForPrepareForSleep)
{
    fv_test::FakeLogind logind;
    ASSERT_TRUE(CServiceWindow::create());
    {
        auto notifier = CSleepNotifierHolder::getInstance();
        EXPECT_EQ(notifier, CSleepNotifierHolder::getInstance());
        SleepListener listener;
        notifier->sleepEvent += Poco::delegate(&listener, &SleepListener::onSleep);

        // Raised first: had it produced an event, that event would come first.
        logind.emitPrepareForShutdown(true);
        logind.emitPrepareForSleep(true);
        logind.emitPrepareForSleep(false);

        ASSERT_TRUE(listener.values.waitForCount(2));
        EXPECT_EQ((std::vector<bool>{true, false}), listener.values.values());
        notifier->sleepEvent -= Poco::delegate(&listener, &SleepListener::onSleep);
    }
    CSleepNotifierHolder::destroyInstance();
    CServiceWindow::destroy();
    EXPECT_THROW(CServiceWindow::getInstance(), CServiceWindow::CNotInitializedException);
}

TEST(ServiceWindow, StartsWithoutSystemBusWithOneWarningPerProcess)
{
    fv_test::NoSystemBus noBus;
    fv_test::LogCapture log;
    // The library is started and stopped more than once in a process's life.
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_TRUE(CServiceWindow::create());
        EXPECT_TRUE(CServiceWindow::create()); // the existing window is kept
        EXPECT_FALSE(CServiceWindow::getInstance()->listensToPower());
        CServiceWindow::destroy();
    }
    EXPECT_EQ(1, log.count("no system bus"));
}

TEST(ServiceWindow, StopRightAfterStartNeverHangs)
{
    // A stop that races the loop's start must still end it: a lost wake-up hangs here.
    fv_test::NoSystemBus noBus;
    for (int i = 0; i < 20; ++i) {
        CServiceWindow window;
        window.stop();
        window.stop();
    }
    for (int i = 0; i < 20; ++i)
        CServiceWindow window;
}

TEST(ServiceWindow, HungSystemBusHoldsUpNeitherStartNorStop)
{
    fv_test::SilentSystemBus silentBus;
    fv_test::Watchdog watchdog("a service window on a hung bus", std::chrono::seconds(40));
    // Past the ready wait the window starts without listening; it is short here to keep the test quick.
    auto window = std::make_unique<CServiceWindow>(std::chrono::milliseconds(100));
    EXPECT_FALSE(window->listensToPower());
    window.reset();
}

TEST(ServiceWindow, NoPowerEventIsDeliveredAfterStop)
{
    fv_test::FakeLogind logind;
    auto window = std::make_shared<CServiceWindow>();
    ASSERT_TRUE(window->listensToPower());

    struct SlowListener {
        std::atomic<int> entered{0};
        std::atomic<int> finished{0};
        void onPower(const CServiceWindow::PowerModeChangeData&)
        {
            ++entered;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ++finished;
        }
    } listener;
    window->powerEvent += Poco::delegate(&listener, &SlowListener::onPower);

    logind.emitPrepareForSleep(true);
    logind.emitPrepareForSleep(false);
    logind.emitPrepareForSleep(true);
    ASSERT_TRUE(fv_test::waitUntil([&] { return listener.entered > 0; }));

    window->stop(); // waits for the delivery in progress, drops the rest
    const int deliveredAtStop = listener.entered;
    EXPECT_EQ(deliveredAtStop, listener.finished.load());
    logind.emitPrepareForSleep(false);
    window.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(deliveredAtStop, listener.entered.load());
}
