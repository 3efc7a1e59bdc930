#include "support/fixtures/LogCapture.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "transfers/upload/UploadGroupFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;

namespace {

constexpr std::uint64_t KiB = 1024;

using UploadEngineTest = UploadGroupFixture;

} // namespace

TEST_F(UploadEngineTest, TheDequeueCommandTakesOutARunningAndAQueuedFile)
{
    Watchdog watchdog("dequeue commands", std::chrono::seconds(60));
    // The first PUT never ends: its file runs while the other waits for the one transfer slot.
    m_service.faults().add(FaultRule{"PUT", "/storage/*", 1, 1, Fault::stallRequest(1024)});
    const std::int32_t id = createGroup();
    ASSERT_GE(id, 0);
    const std::shared_ptr<CUploadGroup> target = group(id);
    const UploadFileDesc running = localFile("R1", 64 * KiB, 3);
    target->addFiles({running});
    ASSERT_TRUE(waitUntil([&] { return requestsOf("PUT") == 1; }, 20000));
    const std::shared_ptr<fv_transfers::IUploadFile> runningFile = target->findFile("R1");
    ASSERT_TRUE(runningFile);
    const UploadFileDesc queued = localFile("Q1", 32 * KiB, 4);
    target->addFiles({queued});

    m_engine->scheduleFileDequeue(id, queued);
    m_engine->scheduleFileDequeue(id, running);
    EXPECT_TRUE(waitUntil([&] { return !target->findFile("Q1") && !target->findFile("R1"); }, 20000));
    EXPECT_TRUE(waitUntil([&] { return !m_engine->hasChannelsOfFile(runningFile.get()); }, 20000));
    EXPECT_EQ(0, rowsOfFile("R1"));
    EXPECT_EQ(0, rowsOfFile("Q1"));
    EXPECT_EQ(1u, requestsOf("PUT"));
    EXPECT_EQ(0u, stateOf(id).bytesTotal);
}

TEST_F(UploadEngineTest, ADequeueForAGroupThatIsGoneIsLoggedAndIgnored)
{
    Watchdog watchdog("dequeue for a missing group");
    LogCapture log;
    m_engine->scheduleFileDequeue(42, UploadFileDesc{"X1", L""});
    const std::string expected = "fv_transfers::CUploadEngine::handleFileDequeue: group with id 42 doesn't exist";
    EXPECT_TRUE(waitUntil([&] { return log.count(expected) == 1; }, 20000));
}

TEST_F(UploadEngineTest, ParkingAFilesChannelsRacesNoReaderOfThem)
{
    Watchdog watchdog("parking while reading", std::chrono::seconds(60));
    m_service.faults().add(FaultRule{"PUT", "/storage/*", 1, 1, Fault::stallRequest(1024)});
    const std::int32_t id = createGroup();
    ASSERT_GE(id, 0);
    group(id)->addFiles({localFile("R1", 64 * KiB, 3)});
    ASSERT_TRUE(waitUntil([&] { return requestsOf("PUT") == 1; }, 20000));
    const std::shared_ptr<fv_transfers::IUploadFile> file = group(id)->findFile("R1");
    ASSERT_TRUE(file);

    std::atomic<int> missed{0};
    std::thread reader([&] {
        for (int i = 0; i < 500; ++i)
            missed += m_engine->hasChannelsOfFile(file.get()) ? 0 : 1;
    });
    for (int i = 0; i < 200; ++i)
        m_engine->addFileChannels(file);
    reader.join();
    // The running channel is never parked a second time, nor lost while parking is asked.
    EXPECT_EQ(0, missed.load());
    EXPECT_TRUE(m_engine->hasChannelsOfFile(file.get()));
    EXPECT_EQ(1u, requestsOf("PUT"));
}

TEST_F(UploadEngineTest, AnUninitBeforeInitLeavesInitToRunTheQueuedWork)
{
    Watchdog watchdog("uninit before init", std::chrono::seconds(60));
    tearDownParts();
    build(false);
    m_engine->uninit();
    const std::int32_t id = createGroup();
    ASSERT_GE(id, 0);
    group(id)->addFiles({localFile("F1", 48 * KiB, 6)});
    group(id)->markQueue();
    m_engine->init();
    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_EQ(m_contents["F1"], stored("F1"));
    EXPECT_EQ(0, allRows());
    EXPECT_TRUE(waitUntil([&] { return !group(id); }, 20000));
}

TEST_F(UploadEngineTest, ACancelledGroupLeavesTheManagerWithNoRowAndNeverCompletes)
{
    Watchdog watchdog("a cancelled group", std::chrono::seconds(60));
    m_service.faults().add(FaultRule{"PUT", "/storage/*", 1, 1, Fault::stallRequest(1024)});
    const std::int32_t id = createGroup();
    ASSERT_GE(id, 0);
    std::shared_ptr<CUploadGroup> target = group(id);
    target->addFiles({localFile("R1", 64 * KiB, 3)});
    ASSERT_TRUE(waitUntil([&] { return requestsOf("PUT") == 1; }, 20000));
    const std::shared_ptr<fv_transfers::IUploadFile> running = target->findFile("R1");
    target->markQueue();
    target->cancel();
    EXPECT_TRUE(waitUntil([&] { return !group(id) && !m_engine->hasChannelsOfFile(running.get()); }, 20000));
    EXPECT_EQ(0, allRows());
    EXPECT_TRUE(stateOf(id).cancelled || !group(id));
    target.reset();
    m_engine->uninit();
    EXPECT_EQ(0u, m_events.groupEventsInState(CTransferManagerBase::GROUP_COMPLETED));
}
