#include "FvTransfersInitializer.h"
#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "framework/FailedGroupsRestarter.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/service/StopSignal.h"
#include "transfers/framework/InertTransferGroup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

using namespace fv_transfers;
using std::chrono::milliseconds;

namespace {

using Resumes = fv_test::EventRecorder<std::int32_t>;

class ResumableGroup : public fv_test::InertTransferGroup {
public:
    ResumableGroup(std::int32_t id, Resumes& resumes, fv_test::StopSignal* gate = nullptr, Resumes* entered = nullptr)
        : InertTransferGroup(id, std::string()), m_resumes(resumes), m_gate(gate), m_entered(entered)
    {
    }

    void requestResume(bool automatic) override
    {
        EXPECT_TRUE(automatic);
        if (m_entered)
            m_entered->record(getGroupId());
        if (m_gate)
            m_gate->waitFor(std::chrono::seconds(10));
        m_resumes.record(getGroupId());
    }

private:
    Resumes& m_resumes;
    fv_test::StopSignal* const m_gate;
    Resumes* const m_entered;
};

// The worker is held inside a first group's resume, so that what the test registers meanwhile
// falls due while the worker is busy; `release` lets it go on.
struct Restarter : ::testing::Test {
    Resumes resumes; // of the groups under test
    Resumes heldResumes;
    Resumes entered;
    fv_test::StopSignal gate;
    std::shared_ptr<ResumableGroup> held = std::make_shared<ResumableGroup>(0, heldResumes, &gate, &entered);
    std::shared_ptr<ResumableGroup> probe;
    CFailedGroupsRestarter restarter;

    void SetUp() override
    {
        restarter.setInterval(milliseconds(0));
        restarter.registerGroup(held);
        ASSERT_TRUE(entered.waitForCount(1));
    }
    void TearDown() override { gate.raise(); }

    std::shared_ptr<ResumableGroup> group(std::int32_t id) { return std::make_shared<ResumableGroup>(id, resumes); }
    void release()
    {
        gate.raise();
        ASSERT_TRUE(heldResumes.waitForCount(1));
    }
    // True once every entry due now has been handled: a group due now is resumed after them.
    bool passDone()
    {
        restarter.setInterval(milliseconds(0));
        probe = std::make_shared<ResumableGroup>(-1, heldResumes);
        restarter.registerGroup(probe);
        return heldResumes.waitForCount(2);
    }
};

} // namespace

TEST_F(Restarter, ALaterRegistrationReplacesTheEarlier)
{
    auto later = group(1);
    restarter.registerGroup(later); // due at once
    restarter.setInterval(std::chrono::hours(1));
    restarter.registerGroup(later); // due in an hour: this one holds
    release();

    ASSERT_TRUE(passDone());
    EXPECT_TRUE(resumes.values().empty());
    EXPECT_TRUE(restarter.isRegistered(later.get()));
}

TEST_F(Restarter, AnUnregisteredGroupIsNeverResumed)
{
    auto dropped = group(1);
    restarter.registerGroup(dropped); // due at once, but the worker is busy
    restarter.unregisterGroup(dropped.get());
    release();

    ASSERT_TRUE(passDone());
    EXPECT_TRUE(resumes.values().empty());
}

TEST_F(Restarter, AGroupDestroyedWhileDueIsDropped)
{
    auto gone = group(1);
    const ITransferGroup* goneAddress = gone.get();
    auto live = group(2);
    restarter.registerGroup(gone);
    restarter.registerGroup(live);
    gone.reset(); // no unregistration: only the restarter's weak hold is left
    release();

    ASSERT_TRUE(resumes.waitForCount(1));
    EXPECT_EQ(std::vector<std::int32_t>{2}, resumes.values());
    EXPECT_FALSE(restarter.isRegistered(goneAddress));
}

TEST_F(Restarter, AnOverdueEntryFiresAtOnce)
{
    auto overdue = group(1);
    restarter.registerGroup(overdue); // due now, while the worker is busy
    restarter.setInterval(std::chrono::hours(1));
    release();

    // Waiting for the interval instead would take an hour.
    EXPECT_TRUE(resumes.waitForCount(1, 10000));
}

TEST_F(Restarter, GroupsDueTogetherAreAllResumed)
{
    auto a = group(1);
    auto b = group(2);
    restarter.registerGroup(a);
    restarter.registerGroup(b);
    release();

    ASSERT_TRUE(resumes.waitForCount(2));
    auto values = resumes.values();
    std::sort(values.begin(), values.end());
    EXPECT_EQ((std::vector<std::int32_t>{1, 2}), values);
}

TEST(FailedGroupsRestarter, StopEndsAWaitingWorker)
{
    auto restarter = std::make_shared<CFailedGroupsRestarter>(std::chrono::hours(1));
    Resumes resumes;
    auto group = std::make_shared<ResumableGroup>(1, resumes);
    restarter->registerGroup(group);

    restarter->stop();

    EXPECT_FALSE(restarter->isRunning());
    restarter->stop(); // again: nothing to do
    restarter->setInterval(milliseconds(0));
    restarter->registerGroup(group); // stored, never acted upon
    EXPECT_TRUE(restarter->isRegistered(group.get()));
    EXPECT_TRUE(resumes.values().empty());
}

TEST(FailedGroupsRestarter, TheLibrarysEndStopsAndJoinsTheProcessRestarter)
{
    fv_test::NoSystemBus noBus;
    fv_test::TempDir dir;
    CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(utf8ToWide(dir.path()));
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    const int before = fv_test::threadsNamed("fv-restarter");
    auto restarter = CFailedGroupsRestarter::getInstance();
    EXPECT_EQ(restarter, CFailedGroupsRestarter::getInstance());
    EXPECT_EQ(before + 1, fv_test::threadsNamed("fv-restarter"));

    CFvTransfersInitializer::unitialize();

    // Joined, not merely asked: the thread is gone once unitialize returns.
    EXPECT_EQ(before, fv_test::threadsNamed("fv-restarter"));
    EXPECT_FALSE(restarter->isRunning());
    EXPECT_FALSE(CFailedGroupsRestarter::findInstance());
}
