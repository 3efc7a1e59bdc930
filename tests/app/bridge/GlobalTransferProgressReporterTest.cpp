#include "bridge/GlobalTransferProgressReporter.h"
#include "shell/GlobalProgressBar.h"

#include "support/fixtures/Watchdog.h"

#include <Poco/Exception.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

using ferrovan::GlobalTransferProgressReporter;
using GroupState = GlobalTransferProgressReporter::GroupState;
using Calls = std::vector<std::string>;

// Records the bar's calls as "visible 1", "state 3", "value 40". Unlocked on purpose: the
// reporter alone must keep its calls from overlapping.
class RecordingBar : public ferrovan::IGlobalProgressBar {
public:
    void setVisible(bool visible) override { m_calls.push_back("visible " + std::to_string(visible)); }
    void setState(int state) override { m_calls.push_back("state " + std::to_string(state)); }
    void setValue(unsigned percent) override { m_calls.push_back("value " + std::to_string(percent)); }
    ferrovan::ProgressBarStyle& getStyle() override { return m_style; }
    void setStyle(const ferrovan::ProgressBarStyle& style) override { m_style = style; }

    // The calls since the last take.
    Calls take()
    {
        Calls calls;
        calls.swap(m_calls);
        return calls;
    }

private:
    Calls m_calls;
    ferrovan::ProgressBarStyle m_style;
};

enum : std::int32_t { kTransferring = 1, kErrored = 2, kCompleted = 3, kPaused = 4 };

GroupState group(const std::string& bucketId, std::int32_t state, std::uint64_t transferred,
                 std::int64_t creationTimeMs = 1000)
{
    GroupState s;
    s.bucketId = bucketId;
    s.state = state;
    s.bytesTransferred = transferred;
    s.bytesTotal = 100;
    s.percentTransferred = static_cast<float>(transferred);
    s.creationTimeMs = creationTimeMs;
    s.empty = false;
    return s;
}

class GlobalProgress : public ::testing::Test {
protected:
    void report(const GroupState& state) { m_reporter.onGroupProgress(state); }

    RecordingBar m_bar;
    GlobalTransferProgressReporter m_reporter{&m_bar};
};

TEST(GlobalTransferProgressReporter, RefusesANullBar)
{
    try {
        GlobalTransferProgressReporter reporter(nullptr);
        FAIL() << "no exception";
    } catch (const Poco::NullPointerException& e) {
        EXPECT_EQ(e.message(), "Null pointer passed to function: "
                               "ferrovan::GlobalTransferProgressReporter::GlobalTransferProgressReporter"
                               " param name: pProgressBar");
    }
}

TEST_F(GlobalProgress, TheFirstStateShowsTheBarAndItFollowsThatGroup)
{
    report(group("a", kTransferring, 10));
    EXPECT_EQ(m_bar.take(), (Calls{"visible 1", "state 1", "value 10"}));

    report(group("a", kTransferring, 35));
    EXPECT_EQ(m_bar.take(), (Calls{"value 35"}));
}

TEST_F(GlobalProgress, TheLastGroupFinishingHidesTheBar)
{
    struct Case {
        const char* name;
        GroupState finished;
    };
    GroupState cancelled = group("a", kPaused, 40);
    cancelled.cancelled = true;
    const Case cases[] = {
        {"completed", group("a", kCompleted, 60)},
        {"all bytes", group("a", kTransferring, 100)},
        {"cancelled", cancelled},
    };
    for (const Case& c : cases) {
        RecordingBar bar;
        GlobalTransferProgressReporter reporter(&bar);
        reporter.onGroupProgress(group("a", kTransferring, 10));
        bar.take();

        reporter.onGroupProgress(c.finished);

        EXPECT_EQ(bar.take(), (Calls{"visible 0"})) << c.name;
        // Nothing of the group is left: its next state shows the bar afresh.
        reporter.onGroupProgress(group("a", kTransferring, 20));
        EXPECT_EQ(bar.take(), (Calls{"visible 1", "state 1", "value 20"})) << c.name;
    }
}

TEST_F(GlobalProgress, StatesOfAnotherGroupOnlyUpdateItsStoredCopy)
{
    report(group("a", kTransferring, 10));
    m_bar.take();

    report(group("b", kTransferring, 50));
    report(group("b", kErrored, 55));
    report(group("b", kTransferring, 60));
    EXPECT_TRUE(m_bar.take().empty());

    // The stored copy is the latest state.
    report(group("a", kPaused, 10));
    EXPECT_EQ(m_bar.take(), (Calls{"value 60"}));
}

TEST_F(GlobalProgress, AShownGroupThatStopsGivesWayToATransferringOne)
{
    report(group("a", kTransferring, 10, 1));
    report(group("b", kPaused, 30, 2));
    report(group("c", kTransferring, 50, 3));
    m_bar.take();

    report(group("a", kPaused, 10, 1));

    EXPECT_EQ(m_bar.take(), (Calls{"value 50"}));
}

TEST_F(GlobalProgress, WithNoGroupTransferringTheBarShowsTheOldestGroupsState)
{
    report(group("a", kTransferring, 10, 5));
    report(group("b", kErrored, 30, 2));
    m_bar.take();

    report(group("a", kPaused, 10, 5));

    EXPECT_EQ(m_bar.take(), (Calls{"state 2", "value 30"}));
}

TEST_F(GlobalProgress, TheNextStateAfterAChoiceMakesItsGroupTheShownOne)
{
    report(group("a", kTransferring, 10));
    report(group("b", kTransferring, 50));
    report(group("a", kPaused, 10));
    m_bar.take();

    report(group("a", kPaused, 10));

    EXPECT_EQ(m_bar.take(), (Calls{"visible 1", "state 1", "value 50"}));
}

TEST(GlobalTransferProgressReporter, ChoosesTheOldestTransferringGroupFirstInBucketOrderOnTies)
{
    struct Case {
        const char* name;
        std::int64_t bCreated;
        std::int64_t cCreated;
        const char* shownValue; // b shows 20, c shows 30
    };
    const Case cases[] = {
        {"tie", 7, 7, "value 20"},
        {"c older", 8, 7, "value 30"},
        {"b older", 6, 7, "value 20"},
        // The ordering value is compared unsigned: a negative one counts as the newest.
        {"b negative", -1, 7, "value 30"},
    };
    for (const Case& c : cases) {
        RecordingBar bar;
        GlobalTransferProgressReporter reporter(&bar);
        reporter.onGroupProgress(group("a", kTransferring, 10, 0));
        // Reported in reverse order: the map's order decides, not the arrival.
        reporter.onGroupProgress(group("d", kPaused, 40, 0));
        reporter.onGroupProgress(group("c", kTransferring, 30, c.cCreated));
        reporter.onGroupProgress(group("b", kTransferring, 20, c.bCreated));
        bar.take();

        reporter.onGroupProgress(group("a", kErrored, 10, 0));

        EXPECT_EQ(bar.take(), (Calls{c.shownValue})) << c.name;
    }
}

TEST_F(GlobalProgress, AFinishedGroupIsForgotten)
{
    GroupState cancelled = group("b", kTransferring, 50);
    cancelled.cancelled = true;
    for (const GroupState& finished : {cancelled, group("b", kTransferring, 100), group("b", kCompleted, 90)}) {
        RecordingBar bar;
        GlobalTransferProgressReporter reporter(&bar);
        reporter.onGroupProgress(group("a", kTransferring, 10));
        reporter.onGroupProgress(group("b", kTransferring, 50));
        reporter.onGroupProgress(finished);
        bar.take();

        // Were b still stored, the bar would follow it as the one group transferring.
        reporter.onGroupProgress(group("a", kPaused, 10));

        EXPECT_EQ(bar.take(), (Calls{"state 3", "value 10"}));
    }
}

TEST_F(GlobalProgress, PercentagesOutOfRangeReachTheBarWithinIt)
{
    GroupState over = group("a", kTransferring, 10);
    over.percentTransferred = 250.5f;
    GroupState under = group("a", kTransferring, 10);
    under.percentTransferred = -3.0f;

    report(over);
    report(under);

    EXPECT_EQ(m_bar.take(), (Calls{"visible 1", "state 1", "value 100", "value 0"}));
}

TEST(GlobalTransferProgressReporter, ThreadsReportingTogetherLeaveTheBarHiddenWhenAllFinish)
{
    fv_test::Watchdog watchdog("threads reporting group progress", std::chrono::seconds(60));
    RecordingBar bar;
    GlobalTransferProgressReporter reporter(&bar);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&reporter, t] {
            const std::string bucketId = "bucket-" + std::to_string(t);
            for (std::uint64_t bytes = 0; bytes < 100; ++bytes)
                reporter.onGroupProgress(group(bucketId, bytes % 10 == 9 ? kPaused : kTransferring, bytes, t));
            reporter.onGroupProgress(group(bucketId, kCompleted, 100, t));
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    const Calls calls = bar.take();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "visible 0");
    EXPECT_EQ(calls.front(), "visible 1");
}

} // namespace
