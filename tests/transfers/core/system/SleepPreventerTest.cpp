#include "core/system/SleepPreventerCounterProxy.h"
#include "core/system/linux/SleepPreventerLinux.h"
#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

using fv_transfers::CSleepPreventerCounterProxy;
using fv_transfers::CSleepPreventerLinux;
using fv_transfers::ISleepPreventer;

namespace {

class FakePreventer : public ISleepPreventer {
public:
    explicit FakePreventer(bool preventWorks) : m_preventWorks(preventWorks) {}
    bool prevent() override
    {
        m_preventing = m_preventWorks;
        return m_preventWorks;
    }
    bool isPreventing() override { return m_preventing; }
    bool allow() override
    {
        m_preventing = false;
        return true;
    }

private:
    bool m_preventWorks;
    bool m_preventing = false;
};

void runCounter(CSleepPreventerCounterProxy& counter, const std::string& steps)
{
    for (char step : steps) {
        if (step == '+')
            counter.sleepCounterIncrement();
        else
            counter.sleepCounterDecrement();
    }
}

} // namespace

TEST(SleepPreventerCounter, HoldsWhileCountAboveZero)
{
    struct Case {
        const char* steps;
        bool preventWorks;
        bool held;
        int starts;
        int stops;
        int failures;
    };
    const Case cases[] = {
        {"+", true, true, 1, 0, 0},   {"++-", true, true, 1, 0, 0},  {"++--", true, false, 1, 1, 0},
        {"-", true, false, 0, 0, 0},  {"--+", true, true, 1, 0, 0},  {"+-+", true, true, 2, 1, 0},
        {"+", false, false, 1, 0, 1}, {"+-", false, false, 1, 1, 1}, {"++", false, false, 1, 0, 1},
    };
    for (const Case& c : cases) {
        fv_test::LogCapture log;
        auto preventer = std::make_shared<FakePreventer>(c.preventWorks);
        {
            CSleepPreventerCounterProxy counter(preventer);
            runCounter(counter, c.steps);
            EXPECT_EQ(c.held, preventer->isPreventing()) << c.steps;
        }
        EXPECT_EQ(c.starts, log.count("Start preventing sleep!")) << c.steps;
        EXPECT_EQ(c.stops, log.count("Stop preventing sleep!")) << c.steps;
        EXPECT_EQ(c.failures, log.count("Failed to start preventing sleep!")) << c.steps;
    }
}

TEST(SleepPreventerLinux, InhibitorIsTakenAndReleased)
{
    fv_test::FakeLogind logind;
    {
        CSleepPreventerLinux preventer;
        EXPECT_FALSE(preventer.isPreventing());
        ASSERT_TRUE(preventer.prevent());
        EXPECT_TRUE(preventer.isPreventing());
        const auto inhibitors = logind.listInhibitors();
        ASSERT_EQ(1u, inhibitors.size());
        EXPECT_EQ("sleep", inhibitors[0].what);
        EXPECT_EQ("fv-transfers", inhibitors[0].who);
        EXPECT_EQ("block", inhibitors[0].mode);

        EXPECT_TRUE(preventer.allow());
        EXPECT_FALSE(preventer.isPreventing());
        EXPECT_TRUE(logind.waitForInhibitorCount(0));

        ASSERT_TRUE(preventer.prevent());
        EXPECT_TRUE(logind.waitForInhibitorCount(1));
    }
    // The destructor lets go of a held inhibitor.
    EXPECT_TRUE(logind.waitForInhibitorCount(0));
}

TEST(SleepPreventerCounter, ThreadsThatIncrementAndDecrementShareOneInhibitor)
{
    fv_test::FakeLogind logind;
    CSleepPreventerCounterProxy counter;
    std::thread([&] { counter.sleepCounterIncrement(); }).join();
    std::thread([&] { counter.sleepCounterIncrement(); }).join();
    EXPECT_EQ(1u, logind.listInhibitors().size());
    std::thread([&] { counter.sleepCounterDecrement(); }).join();
    EXPECT_EQ(1u, logind.listInhibitors().size());
    // The last decrement comes from yet another thread, and still releases the machine.
    std::thread([&] { counter.sleepCounterDecrement(); }).join();
    EXPECT_TRUE(logind.waitForInhibitorCount(0));

    std::thread a([&] {
        for (int i = 0; i < 50; ++i)
            runCounter(counter, "+-");
    });
    std::thread b([&] {
        for (int i = 0; i < 50; ++i)
            runCounter(counter, "+-");
    });
    a.join();
    b.join();
    EXPECT_TRUE(logind.waitForInhibitorCount(0));
}

TEST(SleepPreventerCounter, WithoutAnsweringSystemBusFailsToPreventButKeepsCounting)
{
    for (const bool busHangs : {false, true}) {
        std::unique_ptr<fv_test::NoSystemBus> noBus;
        std::unique_ptr<fv_test::SilentSystemBus> silentBus;
        if (busHangs)
            silentBus = std::make_unique<fv_test::SilentSystemBus>();
        else
            noBus = std::make_unique<fv_test::NoSystemBus>();
        fv_test::Watchdog watchdog("a sleep counter increment without an answering bus");
        fv_test::LogCapture log;
        // The bus time-out is short here to keep the test quick; the hung bus still has to hit it.
        CSleepPreventerCounterProxy counter(std::make_shared<CSleepPreventerLinux>(std::chrono::milliseconds(100)));
        counter.sleepCounterIncrement();
        counter.sleepCounterDecrement();
        EXPECT_EQ(1, log.count("Failed to start preventing sleep!")) << busHangs;
        EXPECT_EQ(1, log.count("Stop preventing sleep!")) << busHangs;
        EXPECT_EQ(0, log.count("Failed to stop preventing sleep!")) << busHangs;
    }
}

TEST(SleepPreventerCounter, LibraryCounterIsOneInstance)
{
    EXPECT_EQ(&CSleepPreventerCounterProxy::getInstance(), &CSleepPreventerCounterProxy::getInstance());
}
