#include "framework/TransferProgressTracker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

using fv_transfers::CTransferProgressTracker;

namespace {

constexpr std::uint64_t kWallNowMs = 1700000000000;

// A tracker on a clock the test moves; the wall clock stands still.
class TransferProgressTracker : public ::testing::Test {
protected:
    void advance(int ms) { m_now += std::chrono::milliseconds(ms); }

    // One full sampling window at `bytesPerMs`.
    void feedWindow(double bytesPerMs)
    {
        advance(5000);
        tracker.AddData(static_cast<std::int64_t>(bytesPerMs * 5000));
    }

    CTransferProgressTracker::Clock::time_point m_now{std::chrono::hours(1)};
    CTransferProgressTracker tracker{[this] { return m_now; }, [] { return kWallNowMs; }};
};

} // namespace

TEST_F(TransferProgressTracker, SpeedFollowsTheStabilityCheckAndTheTrimmedMean)
{
    struct Case {
        std::vector<double> samples; // bytes per ms, one window each
        bool restart;                // start again: the speed is measured anew from the samples
        std::uint32_t bytesPerSecond;
    };
    const Case cases[] = {
        {{100, 200, 300, 400}, true, 250000},            // trimmed mean: without the smallest and the largest
        {{100, 300}, true, 200000},                      // too few to trim
        {{100, 200, 300, 400}, false, 400000},           // before the first check the latest counts
        {{100, 200, 300, 400, 500}, false, 300000},      // spread out: the trimmed mean
        {{100, 100, 100, 100, 100, 200}, false, 200000}, // stable: the latest
    };
    for (const Case& c : cases) {
        CTransferProgressTracker::Clock::time_point now{};
        CTransferProgressTracker t([&] { return now; }, [] { return kWallNowMs; });
        t.start(0);
        for (double speed : c.samples) {
            now += std::chrono::milliseconds(5000);
            t.AddData(static_cast<std::int64_t>(speed * 5000));
        }
        if (c.restart) {
            t.stop();
            t.start(0);
        }
        EXPECT_EQ(c.bytesPerSecond, t.GetLastTransferSpeed()) << c.samples.size() << " samples";
    }
}

TEST_F(TransferProgressTracker, AWindowTooShortGivesNoSampleAndOnlyFiniteValues)
{
    tracker.start(1000);
    tracker.AddData(500); // no time has passed
    EXPECT_EQ(0u, tracker.GetLastTransferSpeed());
    EXPECT_EQ(kWallNowMs + 500, tracker.GetEtaMs()); // below 1 byte per ms counts as 1

    advance(249);
    tracker.AddData(100);
    EXPECT_EQ(0u, tracker.GetLastTransferSpeed());

    advance(1);
    tracker.AddData(150); // 750 bytes in 250 ms
    EXPECT_EQ(3000u, tracker.GetLastTransferSpeed());
    EXPECT_EQ(kWallNowMs + 83, tracker.GetEtaMs()); // 250 bytes left at 3 per ms
}

TEST_F(TransferProgressTracker, ConversionsSaturate)
{
    tracker.start(std::numeric_limits<std::uint64_t>::max());
    advance(250);
    tracker.AddData(std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(std::numeric_limits<std::uint32_t>::max(), tracker.GetLastTransferSpeed());
    tracker.AddData(std::numeric_limits<std::int64_t>::max());
    tracker.AddData(std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(std::numeric_limits<std::uint64_t>::max(), tracker.getBytesTransferred());
    tracker.addToTotal(1);
    EXPECT_EQ(std::numeric_limits<std::uint64_t>::max(), tracker.getBytesTotal());
    EXPECT_GE(tracker.GetEtaMs(), kWallNowMs);
}

TEST_F(TransferProgressTracker, ProgressAndTotalNeverGoBelowZero)
{
    tracker.start(1000);
    tracker.AddData(300);
    tracker.AddData(-500);
    EXPECT_EQ(0u, tracker.getBytesTransferred());

    tracker.AddData(std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(0u, tracker.getBytesTransferred());
    tracker.AddData(200);
    tracker.decreaseBytesTransferred(201);
    EXPECT_EQ(0u, tracker.getBytesTransferred());

    tracker.removeFromTotal(1001);
    EXPECT_EQ(0u, tracker.getBytesTotal());
    EXPECT_EQ(kWallNowMs, tracker.GetEtaMs());
}

TEST_F(TransferProgressTracker, MoreTransferredThanTheTotalLeavesTenKilobytesForTheEta)
{
    tracker.start(1000);
    feedWindow(0.4); // 2000 bytes: below 1 byte per ms
    EXPECT_EQ(kWallNowMs + 10240, tracker.GetEtaMs());
}

TEST_F(TransferProgressTracker, ConcurrentUpdatesAndReadsAgree)
{
    CTransferProgressTracker shared;
    shared.start(1u << 20);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                shared.AddData(2);
                shared.decreaseBytesTransferred(1);
                shared.GetLastTransferSpeed();
                shared.GetEtaMs();
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(4000u, shared.getBytesTransferred());
}
