#include "upload/UploadManager.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/Watchdog.h"
#include "transfers/upload/UploadManagerFixture.h"
#include "upload/UploadManagerProxy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fv_test;
using fv_transfers::CUploadManagerProxy;

class UploadManagerTest : public UploadManagerFixture {};

TEST_F(UploadManagerTest, UploadsSinglePartAndMultipartFilesEndToEndAndCompletesOnceMarked)
{
    Watchdog watchdog("end to end", std::chrono::seconds(100));
    makeManager(4 * MiB);
    m_manager->subscribeToEvents(&m_events);
    m_manager->startup();
    const int id = createGroup();
    ASSERT_GE(id, 0);
    std::string bucket = kBucket;
    EXPECT_EQ(id, m_manager->findGroupByBucketId(bucket));

    queue(id, {localFile("S1", 3 * MiB, 1), localFile("M1", 10 * MiB + 17, 2)});
    ASSERT_TRUE(waitUntil(
        [&] {
            return m_events.fileEventsIn("S1", CTransferManagerBase::FILE_COMPLETED) > 0 &&
                   m_events.fileEventsIn("M1", CTransferManagerBase::FILE_COMPLETED) > 0;
        },
        60000));
    // Every file done, but more may come: the group waits for its mark.
    CUploadManager::GroupState state;
    ASSERT_EQ(0, m_manager->getGroupState(id, state));
    EXPECT_EQ(CTransferManagerBase::GROUP_TRANSFERRING, state.state);
    EXPECT_FLOAT_EQ(100.0f, state.percentTransferred);
    EXPECT_FALSE(state.marked);
    EXPECT_FALSE(completed(id));

    m_manager->markQueue(id);
    ASSERT_TRUE(waitUntil([&] { return completed(id); }, 20000));
    EXPECT_EQ(1u, m_events.groupEvents(id, CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_TRUE(stored("S1") == localContent("S1"));
    EXPECT_TRUE(stored("M1") == localContent("M1"));
    EXPECT_EQ(1u, m_service.log().forPath(uploadPath("M1", "initialize"), "POST").size());
    EXPECT_EQ(1u, m_service.log().forPath(uploadPath("M1", "complete"), "POST").size());
    m_manager->shutdown();
    EXPECT_FALSE(m_manager->hasActiveTransfers());
    EXPECT_EQ(0, allRows());
}

TEST_F(UploadManagerTest, UnknownIdsAnswerNeutralValuesAndRefusedFilesAreReported)
{
    makeManager();
    m_manager->subscribeToEvents(&m_events);
    LogCapture log;
    CUploadManager::GroupState state;
    state.bucketId = "untouched";
    state.state = 42;
    EXPECT_EQ(1, m_manager->getGroupState(77, state));
    EXPECT_EQ("untouched", state.bucketId);
    EXPECT_EQ(42, state.state);
    std::string unknownBucket = "nope";
    EXPECT_EQ(-1, m_manager->findGroupByBucketId(unknownBucket));
    EXPECT_FALSE(m_manager->isQueueMarked(77));

    std::vector<CUploadManager::FileDesc> files{localFile("X", 10), localFile("Y", 10)};
    m_manager->queueFiles(77, files);
    m_manager->pauseGroup(77);
    m_manager->markQueue(77);
    EXPECT_EQ(1, log.count("fv_transfers::CUploadManagerProxy::queueFiles: Unable to find group with id 77"));
    EXPECT_EQ(1, log.count("fv_transfers::CUploadManagerProxy::pauseGroup: Unable to find group with id 77"));
    EXPECT_EQ(1, log.count("fv_transfers::CUploadManagerProxy::markQueue: Unable to find group with id 77"));
    EXPECT_EQ(1, log.count("Unable to find group associated with bucked id nope"));
    // A file nobody will upload is never dropped in silence.
    EXPECT_EQ(1u, m_events.fileEventsIn("X", CTransferManagerBase::FILE_ERRORED));
    EXPECT_EQ(1u, m_events.fileEventsIn("Y", CTransferManagerBase::FILE_ERRORED));
}

TEST_F(UploadManagerTest, AManagerWithoutAProxyAnswersNeutralValues)
{
    CUploadManager manager(std::unique_ptr<CUploadManagerProxy>{});
    manager.startup();
    manager.shutdown();
    std::string bucket = kBucket, type = "UPLOAD", token = kToken;
    EXPECT_EQ(-1, manager.createGroup(bucket, type, token, 0));
    CUploadManager::GroupState state;
    EXPECT_EQ(2, manager.getGroupState(0, state));
    CUploadManager::Configuration configuration;
    EXPECT_EQ(2, manager.setConfiguration(configuration));
    EXPECT_EQ(0u, manager.getGroupsCount());
    EXPECT_FALSE(manager.hasActiveTransfers());
    EXPECT_FALSE(manager.isQueueMarked(0));
    EXPECT_EQ(52428800u, manager.getConfiguration().minMultipartSize);
    EXPECT_EQ(300000u, manager.getConfiguration().serverTransferProgressInterval);
}

TEST_F(UploadManagerTest, ConfigurationIsACopyWithTheMultipartFloorAndAZeroLimitKeepsTheEngines)
{
    makeManager();
    CUploadManager::Configuration configuration = m_manager->getConfiguration();
    configuration.minMultipartSize = 0;
    configuration.maxConcurrentTransfers = 5;
    ASSERT_EQ(0, m_manager->setConfiguration(configuration));
    configuration.maxConcurrentTransfers = 0;
    configuration.serverTransferProgressInterval = 999;
    ASSERT_EQ(0, m_manager->setConfiguration(configuration));
    CUploadManager::Configuration copy = m_manager->getConfiguration();
    EXPECT_EQ(52428800u, copy.minMultipartSize);
    EXPECT_EQ(999u, copy.serverTransferProgressInterval);
    copy.maxTransferRetries = 99;
    EXPECT_NE(99u, m_manager->getConfiguration().maxTransferRetries);
}

TEST_F(UploadManagerTest, StatesAppendMarksAreKeptAndTheLogHoldsNoToken)
{
    makeManager();
    LogCapture log;
    const int id = createGroup(kBucket, "SECRET-TOKEN-42");
    ASSERT_GE(id, 0);
    EXPECT_EQ(0, log.count("SECRET-TOKEN-42"));
    // Not started: the file waits, and the group with it.
    queue(id, {localFile("W1", 10)});
    EXPECT_FALSE(m_manager->isQueueMarked(id));
    m_manager->markQueue(id);
    EXPECT_TRUE(m_manager->isQueueMarked(id));
    m_manager->unmarkQueue(id);
    EXPECT_FALSE(m_manager->isQueueMarked(id));

    std::vector<CUploadManager::GroupState> states(2);
    m_manager->fetchGroupsInfo(states);
    ASSERT_EQ(3u, states.size());
    EXPECT_EQ(id, states[2].id);
    EXPECT_EQ(10u, states[2].bytesTotal);
    EXPECT_EQ(1u, m_manager->getGroupsCount());

    // A group with nothing left to do reports no speed and no ETA.
    const int empty = createGroup("B2", "T2");
    m_rest.addBucket("B2", "T2", "EDITING", true, nowSeconds());
    CUploadManager::GroupState state;
    ASSERT_EQ(0, m_manager->getGroupState(empty, state));
    EXPECT_TRUE(state.empty);
    EXPECT_EQ(0u, state.bytesTransferredPerSecond);
    EXPECT_EQ(0u, state.estimatedEta);
}

TEST_F(UploadManagerTest, NoSubscriberSilencesEveryGroupAlsoAtStartup)
{
    Watchdog watchdog("silence", std::chrono::seconds(100));
    makeManager();
    m_manager->subscribeToEvents(&m_events);
    const int id = createGroup();
    ASSERT_GE(id, 0);
    m_manager->subscribeToEvents(nullptr);
    m_manager->startup();
    queue(id, {localFile("Q1", 64 * KiB)});
    m_manager->markQueue(id);
    ASSERT_TRUE(waitUntil([&] { return stored("Q1").has_value(); }, 30000));
    ASSERT_TRUE(waitUntil([&] { return m_manager->getGroupsCount() == 0; }, 30000));
    m_manager->shutdown();
    EXPECT_EQ(0u, m_events.files.values().size());
    for (const auto& event : m_events.groups.values())
        EXPECT_NE(CTransferManagerBase::GROUP_COMPLETED, event.state);
}
