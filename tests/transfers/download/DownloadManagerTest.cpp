#include "download/DownloadManager.h"
#include "core/system/ServiceWindow.h"
#include "download/DownloadManagerProxy.h"
#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/ReachabilityCheckers.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "transfers/download/DownloadManagerFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace fv_test;
using fv_transfers::CDownloadManagerProxy;
using fv_transfers::CTransferManagerProxyBase;

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;

} // namespace

class DownloadManagerTest : public DownloadManagerFixture {};

TEST_F(DownloadManagerTest, DownloadsEndToEndWithTheTypeSecondAndTheTokenThird)
{
    Watchdog watchdog("end to end", std::chrono::seconds(100));
    const std::string first = seed("F1", 3 * MiB, 1);
    const std::string second = seed("F2", 100 * KiB, 2);
    makeManager();
    m_manager->subscribeToEvents(&m_events);
    m_manager->startup();
    const int id = createGroup();
    ASSERT_GE(id, 0);
    EXPECT_EQ(id, m_manager->findGroupByBucketId(*std::make_unique<std::string>(kBucket)));
    EXPECT_EQ(1, rows("DownloadGroupsDictionary WHERE BucketType = 'DOWNLOAD' AND BucketToken = 'T1'"));

    queue(id, {details("F1", "one.bin", 3 * MiB), details("F2", "two.bin", 100 * KiB)});

    ASSERT_TRUE(waitUntil([&] { return completed(id); }, 60000));
    EXPECT_TRUE(first == readFile(m_folder + "/one.bin"));
    EXPECT_TRUE(second == readFile(m_folder + "/two.bin"));
    // The details call carries the third argument as the token.
    const auto detailsCalls = m_service.log().forPath(detailsPath("F1"));
    ASSERT_FALSE(detailsCalls.empty());
    EXPECT_NE(std::string::npos, detailsCalls.front().target.find("token=T1"));
    EXPECT_TRUE(m_events.fileReached("F1", CTransferManagerBase::FILE_COMPLETED));
    EXPECT_TRUE(m_events.fileReached("F2", CTransferManagerBase::FILE_COMPLETED));
    m_manager->shutdown();
    EXPECT_FALSE(m_manager->hasActiveTransfers());
    EXPECT_EQ(0, allRows());
}

TEST_F(DownloadManagerTest, UnknownIdsAnswerTheirNeutralValuesAndLeaveTheRecord)
{
    makeManager();
    LogCapture log;
    CDownloadManager::GroupState state;
    state.bucketId = "untouched";
    state.state = 42;
    EXPECT_EQ(1, m_manager->getGroupState(77, state));
    EXPECT_EQ("untouched", state.bucketId);
    EXPECT_EQ(42, state.state);
    std::string unknownBucket = "nope";
    EXPECT_EQ(-1, m_manager->findGroupByBucketId(unknownBucket));
    EXPECT_FALSE(m_manager->getGroupInfo(77));
    std::vector<FileDownloadDetails> files{details("X", "x.bin", 1)};
    m_manager->queueFiles(77, files);
    m_manager->pauseGroup(77);
    EXPECT_EQ(1, log.count("fv_transfers::CDownloadManagerProxy::queueFiles: Unable to find group with id 77"));
    EXPECT_EQ(1, log.count("fv_transfers::CDownloadManagerProxy::pauseGroup: Unable to find group with id 77"));
    EXPECT_EQ(1, log.count("Unable to find group associated with bucked id nope"));
}

TEST_F(DownloadManagerTest, AManagerWithoutAProxyAnswersNeutralValues)
{
    CDownloadManager manager(std::unique_ptr<CDownloadManagerProxy>{});
    manager.startup();
    manager.shutdown();
    std::string bucket = kBucket, type = "DOWNLOAD", token = kToken;
    std::wstring path = L"file:///tmp";
    std::shared_ptr<CDownloadManager::GroupInfoMap> info;
    EXPECT_EQ(-1, manager.createGroup(bucket, type, token, 0, path, info));
    CDownloadManager::GroupState state;
    EXPECT_EQ(2, manager.getGroupState(0, state));
    CTransferManagerBase::Configuration configuration;
    EXPECT_EQ(2, manager.setConfiguration(configuration));
    EXPECT_EQ(0u, manager.getGroupsCount());
    EXPECT_FALSE(manager.hasActiveTransfers());
    EXPECT_EQ(52428800u, manager.getConfiguration().minMultipartSize);
}

TEST_F(DownloadManagerTest, StatesAppendAndGroupInfoIsTheSameMapRebuiltAfterARestart)
{
    makeManager();
    auto info = std::make_shared<CDownloadManager::GroupInfoMap>(CDownloadManager::GroupInfoMap{{"auto", "1"}});
    const int id = createGroup(info);
    ASSERT_GE(id, 0);
    EXPECT_EQ(info.get(), m_manager->getGroupInfo(id).get());
    (*info)["seen"] = "through both";
    EXPECT_EQ("through both", m_manager->getGroupInfo(id)->at("seen"));

    std::vector<CDownloadManager::GroupState> states(2);
    m_manager->fetchGroupsStates(states);
    ASSERT_EQ(3u, states.size());
    EXPECT_EQ(id, states[2].id);
    EXPECT_EQ(info.get(), states[2].groupInfo.get());
    EXPECT_EQ(m_folder, fv_transfers::wideToUtf8(states[2].downloadPath));
    EXPECT_EQ(1u, m_manager->getGroupsCount());

    m_manager.reset();
    makeManager();
    const auto rebuilt = m_manager->getGroupInfo(id);
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ("1", rebuilt->at("auto"));
}

TEST_F(DownloadManagerTest, NoSubscriberSilencesEveryGroupAlsoLaterOnes)
{
    Watchdog watchdog("silence", std::chrono::seconds(100));
    seed("F1", 64 * KiB, 1);
    seed("F2", 64 * KiB, 2);
    makeManager();
    m_manager->subscribeToEvents(&m_events);
    const int before = createGroup();
    m_manager->subscribeToEvents(nullptr);
    m_rest.addBucket("B2", "T2");
    m_service.model().objects().put(RestRoutes::fileKey("B2", "F2"), patternedBytes(64 * KiB, 2));
    m_rest.addFile("B2", "F2", 64 * KiB);
    const int later = createGroup(nullptr, "B2", "T2");
    const std::size_t seen = m_events.groups.values().size() + m_events.files.values().size();
    m_manager->startup();
    queue(before, {details("F1", "a.bin", 64 * KiB)});
    queue(later, {details("F2", "b.bin", 64 * KiB)});
    ASSERT_TRUE(waitUntil(
        [&] {
            CDownloadManager::GroupState a, b;
            return m_manager->getGroupState(before, a) == 0 && a.state == CTransferManagerBase::GROUP_COMPLETED &&
                   m_manager->getGroupState(later, b) == 0 && b.state == CTransferManagerBase::GROUP_COMPLETED;
        },
        60000));
    EXPECT_EQ(seen, m_events.groups.values().size() + m_events.files.values().size());
}

TEST_F(DownloadManagerTest, FilesQueuedBeforeStartupWaitForIt)
{
    Watchdog watchdog("before startup", std::chrono::seconds(100));
    const std::string content = seed("F1", 256 * KiB, 4);
    makeManager();
    m_manager->subscribeToEvents(&m_events);
    const int id = createGroup();
    queue(id, {details("F1", "f.bin", 256 * KiB)});
    EXPECT_TRUE(m_service.log().forPath(detailsPath("F1")).empty());
    EXPECT_EQ(0, threadsNamed("fv-dl-engine"));

    m_manager->startup();
    ASSERT_TRUE(waitUntil([&] { return completed(id); }, 60000));
    EXPECT_TRUE(content == readFile(m_folder + "/f.bin"));
}

TEST_F(DownloadManagerTest, StartupReportsEveryRestoredGroupOnceAndRunsOneEngineThread)
{
    makeManager();
    const int first = createGroup();
    m_rest.addBucket("B2", "T2");
    const int second = createGroup(nullptr, "B2", "T2");
    m_manager.reset();

    makeManager();
    m_manager->startup();
    EXPECT_TRUE(m_events.groups.values().empty()); // nobody subscribed
    m_manager->shutdown();

    m_manager->subscribeToEvents(&m_events);
    m_manager->startup();
    EXPECT_EQ(1u, eventsOf(first));
    EXPECT_EQ(1u, eventsOf(second));
    m_manager->startup();
    EXPECT_EQ(1, threadsNamed("fv-dl-engine"));
    m_manager->shutdown();
    EXPECT_EQ(0, threadsNamed("fv-dl-engine"));
}

TEST_F(DownloadManagerTest, ConfigurationIsACopyWithTheMultipartFloorAndAZeroLimitChangesNothing)
{
    makeManager();
    CTransferManagerBase::Configuration configuration = m_manager->getConfiguration();
    configuration.minMultipartSize = 0;
    configuration.maxConcurrentTransfers = 0;
    configuration.throttleBytesPerSecond = 5000000000ull; // above 32 bits
    ASSERT_EQ(0, m_manager->setConfiguration(configuration));
    CTransferManagerBase::Configuration copy = m_manager->getConfiguration();
    EXPECT_EQ(52428800u, copy.minMultipartSize);
    EXPECT_EQ(0u, copy.maxConcurrentTransfers);
    EXPECT_EQ(5000000000ull, copy.throttleBytesPerSecond);
    copy.maxTransferRetries = 99;
    EXPECT_NE(99u, m_manager->getConfiguration().maxTransferRetries);
}

TEST_F(DownloadManagerTest, TheLogHoldsNoTokenNorSignature)
{
    Watchdog watchdog("secrets", std::chrono::seconds(100));
    const std::string secret = "tok-5ecret-token-value";
    m_rest.addBucket("B9", secret);
    m_service.model().objects().put(RestRoutes::fileKey("B9", "F9"), patternedBytes(64 * KiB, 9));
    m_rest.addFile("B9", "F9", 64 * KiB);
    LogCapture log;
    fv_transfers::CFvTransfersGlobalConfig::getInstance()->setVerboseLogging(true);
    makeManager();
    m_manager->subscribeToEvents(&m_events);
    m_manager->startup();
    const int id = createGroup(nullptr, "B9", secret);
    ASSERT_GE(id, 0);
    queue(id, {details("F9", "s.bin", 64 * KiB)});
    ASSERT_TRUE(waitUntil([&] { return completed(id); }, 60000));
    m_manager.reset();
    fv_transfers::CFvTransfersGlobalConfig::getInstance()->setVerboseLogging(false);
    EXPECT_EQ(1, log.count("Bucket token: ***"));
    EXPECT_EQ(std::string::npos, log.text().find(secret));
    const std::string text = log.text();
    for (std::size_t at = text.find("signature="); at != std::string::npos; at = text.find("signature=", at + 1))
        EXPECT_EQ("signature=***", text.substr(at, 13));
}

TEST_F(DownloadManagerTest, DestroyedWhileADetailsCallStallsItReturnsOnceTheServiceStops)
{
    Watchdog watchdog("stalled details", std::chrono::seconds(100));
    seed("F1", 64 * KiB, 1);
    m_service.faults().add(FaultRule{"GET", detailsPath("F1"), 1, 0, Fault::stall()});
    makeManager();
    CTransferManagerBase::Configuration configuration = m_manager->getConfiguration();
    configuration.receiveTimeoutMs = 60000;
    ASSERT_EQ(0, m_manager->setConfiguration(configuration));
    m_manager->startup();
    const int id = createGroup();
    queue(id, {details("F1", "f.bin", 64 * KiB)});
    ASSERT_TRUE(m_service.log().waitForRequests(1, std::chrono::seconds(30)));
    ASSERT_TRUE(waitUntil([&] { return !m_service.log().forPath(detailsPath("F1")).empty(); }, 30000));

    std::thread destroyer([&] { m_manager.reset(); });
    m_service.stop();
    destroyer.join();
    EXPECT_FALSE(m_manager);
}

TEST_F(DownloadManagerTest, ABucketThatNeverAnswersHoldsStartupOnlyUpToTheBound)
{
    Watchdog watchdog("silent bucket", std::chrono::seconds(60));
    makeManager();
    const int id = createGroup();
    ASSERT_GE(id, 0);
    m_manager.reset();
    m_service.faults().add(FaultRule{"GET", "/api/v2/bucket/" + std::string(kBucket), 1, 0, Fault::stall()});
    makeManager();
    m_manager->subscribeToEvents(&m_events);
    m_manager->startup();
    EXPECT_EQ(1u, eventsOf(id));
    CDownloadManager::GroupState state;
    ASSERT_EQ(0, m_manager->getGroupState(id, state));
    EXPECT_FALSE(state.cancelled);
    EXPECT_FALSE(state.paused);
    m_manager.reset();
    m_service.stop();
}

// A suspend stops every channel before the system sleeps, and the wake continues each range from
// its written bytes once the network is back.
TEST_F(DownloadManagerTest, ASuspendStopsTheChannelsAndTheWakeContinuesFromTheWrittenBytes)
{
    Watchdog watchdog("suspend", std::chrono::seconds(110));
    FakeLogind logind;
    ASSERT_TRUE(fv_transfers::CServiceWindow::create());
    const std::uint64_t size = 8 * MiB;
    const std::string content = seed("S1", size, 7);
    m_service.faults().add(FaultRule{"GET", storagePathOf("S1"), 1, 0, Fault::trickle(64 * KiB, 20)});
    Checkers checkers;
    CTransferManagerProxyBase::Environment environment;
    environment.reachabilityFactory = checkers.factory();
    makeManager(environment);
    const auto delayInhibitors = [&] {
        std::size_t count = 0;
        for (const auto& inhibitor : logind.listInhibitors())
            count += inhibitor.who == "fv-transfers" && inhibitor.mode == "delay" && inhibitor.what == "sleep";
        return count;
    };
    m_manager->subscribeToEvents(&m_events);
    m_manager->startup();
    const int id = createGroup();
    queue(id, {details("S1", "s.bin", size)});
    ASSERT_TRUE(waitUntil(
        [&] {
            CDownloadManager::GroupState state;
            return m_manager->getGroupState(id, state) == 0 && state.bytesTransferred > 256 * KiB;
        },
        30000));
    ASSERT_TRUE(waitUntil([&] { return delayInhibitors() == 1; }, 30000));

    logind.emitPrepareForSleep(true);
    ASSERT_TRUE(waitUntil([&] { return delayInhibitors() == 0; }, 30000));
    EXPECT_EQ(0, threadsNamed("fv-dl-ch-0-0"));
    EXPECT_FALSE(completed(id));
    const std::size_t getsBeforeWake = storageGets("S1").size();
    EXPECT_GT(rows("DownloadChannelsDictionary"), 0);

    logind.emitPrepareForSleep(false);
    ASSERT_TRUE(waitUntil([&] { return checkers.made() == 1; }, 30000));
    EXPECT_EQ(getsBeforeWake, storageGets("S1").size());
    ASSERT_TRUE(checkers.fireNewest());
    ASSERT_TRUE(waitUntil([&] { return completed(id); }, 90000));
    EXPECT_TRUE(content == readFile(m_folder + "/s.bin"));
    const auto gets = storageGets("S1");
    ASSERT_GT(gets.size(), getsBeforeWake);
    EXPECT_NE("bytes=0-" + std::to_string(size - 1), gets[getsBeforeWake].headers.get("Range"));
    EXPECT_TRUE(waitUntil([&] { return delayInhibitors() == 1; }, 30000));
    m_manager.reset();
    fv_transfers::CServiceWindow::destroy();
}

// An app folder that is a regular file leaves the manager without a database: it still starts,
// answers and stops. A group it could not store is refused (-1): nothing of it could be resumed
// or cleaned up after a restart.
TEST_F(DownloadManagerTest, WithoutADatabaseTheManagerStartsAnswersAndStops)
{
    Watchdog watchdog("no database", std::chrono::seconds(60));
    fv_transfers::CDbHolder::releaseInstance();
    TempDir other;
    const std::string notAFolder = other.file("app");
    writeFile(notAFolder, "a file where the app folder should be");
    fv_transfers::CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(fv_transfers::utf8ToWide(notAFolder));
    EXPECT_FALSE(fv_transfers::CDbHolder::createInstance());
    makeManager();
    m_manager->subscribeToEvents(&m_events);
    m_manager->startup();
    EXPECT_EQ(-1, createGroup());
    EXPECT_EQ(0u, m_manager->getGroupsCount());
    m_manager->shutdown();
    m_manager.reset();
}
