#include "download/DownloadEngine.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "support/service/RestFaults.h"
#include "support/fixtures/LogCapture.h"
#include "transfers/download/DownloadGroupFixture.h"

#include <Poco/Delegate.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace fv_test;
using fv_transfers::CDownloadChannelsDbInfo;
using fv_transfers::CDownloadEngine;
using fv_transfers::CFailedGroupsRestarter;
namespace rest_faults = fv_test::rest_faults;

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;

std::uint64_t mtimeMs(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000 +
           static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 1000000;
}

// The first byte a ranged GET asks for; -1 without a Range header.
std::int64_t rangeStart(const std::string& range)
{
    const std::string prefix = "bytes=";
    if (range.compare(0, prefix.size(), prefix) != 0)
        return -1;
    return std::stoll(range.substr(prefix.size()));
}

// Another program's connection holding the database file in a write transaction: in
// write-ahead-log mode every other write waits for it, reads still see the last commit.
class DatabaseHold {
public:
    explicit DatabaseHold(const std::string& path)
    {
        std::string error;
        m_connection = fv_transfers::CDbConnection::open(path, 1, error);
        held = m_connection && run("BEGIN EXCLUSIVE");
    }
    ~DatabaseHold()
    {
        if (held)
            run("ROLLBACK");
    }

    bool held = false;

private:
    bool run(const std::string& sql)
    {
        return m_connection->run("hold", "database",
                                 [&](Poco::Data::Session& session) { session << sql, Poco::Data::Keywords::now; });
    }

    std::shared_ptr<fv_transfers::CDbConnection> m_connection;
};

// Records the engine's activity transitions.
struct ActivityRecorder {
    void onActive(const void*, const bool& active) { events.record(active); }
    EventRecorder<bool> events;
};

} // namespace

// The parts the manager proxy assembles: an executor, the group manager and the download engine
// with three transfers at most and a 30 MB/s throttle.
class DownloadEngineTest : public DownloadTestBase {
protected:
    DownloadEngineTest() { build(quickRetries()); }
    ~DownloadEngineTest() override { tearDownParts(); }

    void build(const fv_transfers::DownloadFileEnvironment& environment)
    {
        m_executor = std::make_shared<fv_transfers::CTrasfersAsyncTasksExecutor>(2, "fv-dl-task-");
        m_manager = std::make_unique<CDownloadGroupManager>();
        CDownloadEngine::Limits limits;
        limits.maxConcurrentTransfers = 3;
        limits.throttleBytesPerSecond = 30000000;
        m_engine = std::make_unique<CDownloadEngine>(*m_manager, limits);
        m_engine->activeTransfersEvent += Poco::delegate(&m_activity, &ActivityRecorder::onActive);
        m_manager->setEngine(m_engine.get());
        m_manager->setTasksExecutor(m_executor);
        m_manager->setFileEnvironment(environment);
        m_manager->setCallbackForAllGroups(&m_events);
        m_engine->init();
    }
    // The engine's thread first; then the groups, whose queued tasks hold their files; then the
    // executor those files hold weakly; the engine's object last, since files still call it.
    void tearDownParts()
    {
        if (m_engine)
            m_engine->uninit();
        m_manager.reset();
        releaseExecutor(m_executor);
        if (m_engine)
            m_engine->activeTransfersEvent -= Poco::delegate(&m_activity, &ActivityRecorder::onActive);
        m_engine.reset();
    }
    // Builds the parts again from what the database holds.
    void rebuild(const fv_transfers::DownloadFileEnvironment& environment, std::uint64_t minMultipartSize)
    {
        ASSERT_TRUE(fv_transfers::CDbDataLoader::getInstance().loadDownloadData());
        build(environment);
        m_manager->restoreGroups(minMultipartSize, false);
        fv_transfers::CDbDataLoader::getInstance().releaseDownloadData();
        m_engine->wakeUp();
    }

    std::int32_t createGroup(const std::string& folder, std::uint64_t minMultipartSize = 0)
    {
        return DownloadTestBase::createGroup(*m_manager, folderUrl(folder), nullptr, minMultipartSize);
    }
    std::shared_ptr<CDownloadGroup> group(std::int32_t id) { return m_manager->findDownloadGroup(id); }
    void start(std::int32_t id, const std::vector<FileDownloadDetails>& files)
    {
        m_engine->initFiles(group(id), files);
        m_engine->wakeUp();
    }

    std::size_t groupEvents(std::int32_t id, std::int32_t state) const
    {
        std::size_t count = 0;
        for (const auto& event : m_events.groups.values())
            if (event.id == id && event.state == state && !event.cancelled)
                ++count;
        return count;
    }
    bool waitForGroup(std::int32_t id, std::int32_t state, int timeoutMs = 60000) const
    {
        return waitUntil([&] { return groupEvents(id, state) > 0; }, timeoutMs);
    }
    std::uint64_t bytesOf(const std::string& fileId) const
    {
        std::uint64_t bytes = 0;
        for (const auto& event : m_events.fileEvents(fileId))
            bytes = std::max<std::uint64_t>(bytes, event.bytesTransferred);
        return bytes;
    }

    std::string storagePathOf(const std::string& id) const
    {
        return m_service.storagePath(RestRoutes::fileKey(kBucket, id));
    }
    // The Range header of every GET of the file's bytes, in order.
    std::vector<std::string> storageRanges(const std::string& id, std::size_t from = 0)
    {
        std::vector<std::string> ranges;
        const auto requests = m_service.log().forPath(storagePathOf(id));
        for (std::size_t i = from; i < requests.size(); ++i)
            if (requests[i].method == "GET")
                ranges.push_back(requests[i].headers.get("Range"));
        return ranges;
    }
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> channelRows(const std::string& id)
    {
        std::vector<CDownloadChannelsDbInfo::ChannelInfo> all;
        std::vector<CDownloadChannelsDbInfo::ChannelInfo> result;
        db().getDownloadChannelsDbInfo()->selectAll(all);
        for (const auto& row : all)
            if (row.FileUid == id)
                result.push_back(row);
        return result;
    }
    std::string finalPath(const std::string& relative) const
    {
        std::string path;
        EXPECT_TRUE(
            CDownloadFile::finalPathFor(fv_transfers::utf8ToWide(m_folder), fv_transfers::utf8ToWide(relative), path));
        return path;
    }

    ActivityRecorder m_activity;
    std::shared_ptr<fv_transfers::CTrasfersAsyncTasksExecutor> m_executor;
    std::unique_ptr<CDownloadGroupManager> m_manager;
    std::unique_ptr<CDownloadEngine> m_engine;
};

TEST_F(DownloadEngineTest, AGroupOfEveryDivisionArrivesByteExactWithinTheTransferLimit)
{
    Watchdog watchdog("group proof", std::chrono::seconds(110));
    const std::string empty = seed("F0", 0);
    const std::string plain = seed("F1", 3 * MiB, 4);
    const std::string generic = patternedBytes(10 * MiB, 5);
    m_rest.addMultipartFile(kBucket, "F2", generic, MultipartLayout{{4 * MiB, 4 * MiB, 2 * MiB}, false, {}});
    // Parts of different sizes listed out of order: a wrong offset shows in the bytes.
    const std::string listed = patternedBytes(16 * MiB, 6);
    m_rest.addMultipartFile(kBucket, "F3", listed,
                            MultipartLayout{{5 * MiB, 3 * MiB, 6 * MiB, 2 * MiB}, true, {3, 1, 4, 2}});
    const std::string nested = seed("F4", 64 * KiB, 7);
    const std::string climbing = seed("F5", 32 * KiB, 8);

    const std::int32_t id = createGroup(m_folder, 4 * MiB);
    ASSERT_GE(id, 0);
    start(id, {details("F0", "empty.bin", 0), details("F1", "plain.bin", 3 * MiB),
               details("F2", "generic.bin", 10 * MiB), details("F3", "listed.bin", 16 * MiB),
               details("F4", "sub/dir/x.bin", 64 * KiB), details("F5", "../x", 32 * KiB)});

    ASSERT_TRUE(waitForGroup(id, CTransferManagerBase::GROUP_COMPLETED, 100000));
    const std::vector<std::pair<std::string, const std::string*>> expected = {
        {"empty.bin", &empty},   {"plain.bin", &plain},      {"generic.bin", &generic},
        {"listed.bin", &listed}, {"sub/dir/x.bin", &nested}, {"../x", &climbing}};
    for (const auto& file : expected) {
        const std::string path = finalPath(file.first);
        EXPECT_EQ(0u, path.rfind(m_folder + "/", 0)) << path;
        EXPECT_TRUE(*file.second == readFile(path)) << file.first;
        EXPECT_EQ(kModified, mtimeMs(path)) << file.first;
    }
    EXPECT_EQ(3u, storageRanges("F2").size());
    EXPECT_EQ(4u, storageRanges("F3").size());
    EXPECT_EQ(1u, storageRanges("F1").size());
    EXPECT_FALSE(anyTempIn(m_folder));
    EXPECT_EQ(0, allRows());
    const std::size_t inFlight = m_service.log().maxInFlight("/storage/", "GET");
    EXPECT_GE(inFlight, 1u);
    EXPECT_LE(inFlight, 3u);

    // Each busy period (files wait for their preparation in between) is reported once each way,
    // and the engine's pool is given back when idle.
    ASSERT_TRUE(waitUntil([&] {
        const auto values = m_activity.events.values();
        return !values.empty() && !values.back();
    }));
    const auto activity = m_activity.events.values();
    for (std::size_t i = 0; i < activity.size(); ++i)
        EXPECT_EQ(i % 2 == 0, activity[i]) << i;
    EXPECT_FALSE(m_engine->getBufferManager()->isInitialized());

    // Anything still in flight has had its chance to report a second completion.
    m_engine->uninit();
    EXPECT_EQ(1u, groupEvents(id, CTransferManagerBase::GROUP_COMPLETED));
}

TEST_F(DownloadEngineTest, APausedFileContinuesEachUnfinishedRangeAtItsWrittenBytes)
{
    Watchdog watchdog("pause and resume", std::chrono::seconds(110));
    const std::string content = patternedBytes(3 * MiB, 9);
    m_rest.addMultipartFile(kBucket, "P1", content, MultipartLayout{RestRoutes::evenParts(3 * MiB, MiB), false, {}});
    // Slow enough to be mid-file when paused.
    m_service.faults().add(FaultRule{"GET", "/storage/*", 1, 0, Fault::trickle(16 * KiB, 10)});
    const std::int32_t id = createGroup(m_folder, MiB);
    start(id, {details("P1", "p.bin", 3 * MiB)});
    ASSERT_TRUE(waitUntil([&] { return storageRanges("P1").size() == 3 && bytesOf("P1") >= 192 * KiB; }, 60000));

    group(id)->pause();
    ASSERT_TRUE(waitForGroup(id, CTransferManagerBase::GROUP_PAUSED));
    // Every range's request has ended: what follows is the resume's.
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto requests = m_service.log().forPath(storagePathOf("P1"));
            return std::all_of(requests.begin(), requests.end(), [](const auto& r) { return r.finishedAt != 0; });
        },
        30000));
    const std::size_t beforeResume = m_service.log().forPath(storagePathOf("P1")).size();
    m_service.faults().clear();
    group(id)->requestResume(false);

    ASSERT_TRUE(waitForGroup(id, CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_TRUE(content == readFile(m_folder + "/p.bin"));
    const auto resumed = storageRanges("P1", beforeResume);
    ASSERT_FALSE(resumed.empty());
    for (const std::string& range : resumed) {
        const std::int64_t startByte = rangeStart(range);
        const std::int64_t offset = startByte / static_cast<std::int64_t>(MiB) * static_cast<std::int64_t>(MiB);
        EXPECT_GT(startByte, offset) << range;
    }
}

TEST_F(DownloadEngineTest, AFailedFileErrorsTheGroupWhichTheRestarterResumesToCompletion)
{
    Watchdog watchdog("restarter", std::chrono::seconds(110));
    CFailedGroupsRestarter::getInstance()->setInterval(std::chrono::milliseconds(500));
    const std::string first = seed("ok1", 16 * KiB);
    const std::string second = seed("missing2", 48 * KiB, 7);
    // Refused until the group is seen waiting for the restarter.
    m_service.faults().add(FaultRule{"GET", detailsPath("missing2"), 1, 0, Fault::statusCode(404)});
    const std::int32_t id = createGroup(m_folder);
    start(id, {details("ok1", "one.bin", 16 * KiB), details("missing2", "two.bin", 48 * KiB)});

    ASSERT_TRUE(waitUntil([&] { return m_events.fileReached("missing2", CTransferManagerBase::FILE_ERRORED); }, 30000));
    const auto fileEvents = m_events.fileEvents("missing2");
    const auto errored = std::find_if(fileEvents.begin(), fileEvents.end(),
                                      [](const auto& e) { return e.state == CTransferManagerBase::FILE_ERRORED; });
    EXPECT_EQ(5, errored->errorCode);
    ASSERT_TRUE(waitForGroup(id, CTransferManagerBase::GROUP_ERRORED));
    ASSERT_TRUE(waitUntil([&] { return CFailedGroupsRestarter::getInstance()->isRegistered(group(id).get()); }));
    m_service.faults().clear();

    ASSERT_TRUE(waitForGroup(id, CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_TRUE(first == readFile(m_folder + "/one.bin"));
    EXPECT_TRUE(second == readFile(m_folder + "/two.bin"));
    EXPECT_FALSE(CFailedGroupsRestarter::getInstance()->isRegistered(group(id).get()));
    EXPECT_EQ(0, allRows());
}

TEST_F(DownloadEngineTest, ACancelledGroupLeavesNothingAndNeverCompletesWhileAnotherCompletes)
{
    Watchdog watchdog("cancel", std::chrono::seconds(110));
    const std::string kept = seed("K1", 512 * KiB, 4);
    seed("cut1", 2 * MiB, 5);
    m_service.faults().add(FaultRule{"GET", storagePathOf("cut1"), 1, 0, Fault::trickle(16 * KiB, 10)});
    const std::string keptFolder = m_folder + "/kept";
    const std::string cancelledFolder = m_folder + "/cancelled";
    std::filesystem::create_directories(keptFolder);
    std::filesystem::create_directories(cancelledFolder);
    const std::int32_t keptId = createGroup(keptFolder);
    const std::int32_t cancelledId = createGroup(cancelledFolder);
    start(keptId, {details("K1", "k.bin", 512 * KiB)});
    start(cancelledId, {details("cut1", "c.bin", 2 * MiB)});
    ASSERT_TRUE(waitUntil([&] { return bytesOf("cut1") > 0; }, 60000));

    group(cancelledId)->cancel();

    ASSERT_TRUE(waitUntil(
        [&] {
            return !anyTempIn(cancelledFolder) && channelRows("cut1").empty() && rows("DownloadFilesDictionary") <= 1;
        },
        30000));
    ASSERT_TRUE(waitForGroup(keptId, CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_TRUE(kept == readFile(keptFolder + "/k.bin"));
    m_engine->uninit();
    EXPECT_FALSE(anyTempIn(m_folder));
    EXPECT_TRUE(folderEntries(cancelledFolder).empty());
    EXPECT_EQ(0, allRows());
    EXPECT_EQ(0u, groupEvents(cancelledId, CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_EQ(1u, groupEvents(keptId, CTransferManagerBase::GROUP_COMPLETED));
}

TEST_F(DownloadEngineTest, ARebuiltGroupNeverRequestsACompletedRangeAgain)
{
    Watchdog watchdog("rebuild", std::chrono::seconds(110));
    const std::string content = patternedBytes(4 * MiB, 10);
    m_rest.addMultipartFile(kBucket, "R1", content, MultipartLayout{RestRoutes::evenParts(4 * MiB, MiB), false, {}});
    // The third range is held back; the others finish.
    m_service.faults().add(FaultRule{"GET", storagePathOf("R1"), 1, 0, Fault::trickle(8 * KiB, 20)}.whenHeader(
        "Range", "bytes=" + std::to_string(2 * MiB) + "-"));
    const std::int32_t id = createGroup(m_folder, MiB);
    start(id, {details("R1", "r.bin", 4 * MiB)});
    const auto doneRows = [&] {
        std::vector<std::uint64_t> offsets;
        for (const auto& row : channelRows("R1"))
            if (row.State == 3)
                offsets.push_back(row.Offset);
        return offsets;
    };
    ASSERT_TRUE(waitUntil([&] { return doneRows().size() == 3; }, 60000));

    tearDownParts();
    const std::vector<std::uint64_t> done = doneRows();
    ASSERT_EQ(3u, done.size());
    m_service.faults().clear();
    const std::size_t before = m_service.log().forPath(storagePathOf("R1")).size();
    rebuild(quickRetries(), MiB);

    ASSERT_TRUE(waitForGroup(id, CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_TRUE(content == readFile(m_folder + "/r.bin"));
    const auto ranges = storageRanges("R1", before);
    ASSERT_FALSE(ranges.empty());
    for (const std::string& range : ranges) {
        const auto startByte = static_cast<std::uint64_t>(rangeStart(range));
        EXPECT_EQ(2 * MiB, startByte / MiB * MiB) << range;
    }
    EXPECT_EQ(0, allRows());
}

TEST_F(DownloadEngineTest, ARebuiltSingleRangeFileContinuesAtItsCheckpoint)
{
    Watchdog watchdog("checkpoint", std::chrono::seconds(110));
    auto environment = quickRetries();
    environment.checkpoints.bytes = 64 * KiB;
    environment.checkpoints.interval = std::chrono::milliseconds(20);
    tearDownParts();
    build(environment);
    const std::uint64_t size = 2 * MiB;
    const std::string content = seed("S1", size, 11);
    m_service.faults().add(FaultRule{"GET", storagePathOf("S1"), 1, 0, Fault::trickle(16 * KiB, 10)});
    const std::int32_t id = createGroup(m_folder);
    start(id, {details("S1", "s.bin", size)});
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto stored = channelRows("S1");
            return stored.size() == 1 && stored.front().BytesWritten > 0;
        },
        60000));

    tearDownParts();
    const auto stored = channelRows("S1");
    ASSERT_EQ(1u, stored.size());
    const std::uint64_t checkpoint = stored.front().BytesWritten;
    ASSERT_GT(checkpoint, 0u);
    m_service.faults().clear();
    const std::size_t before = m_service.log().forPath(storagePathOf("S1")).size();
    rebuild(environment, 0);

    ASSERT_TRUE(waitForGroup(id, CTransferManagerBase::GROUP_COMPLETED));
    const auto ranges = storageRanges("S1", before);
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ("bytes=" + std::to_string(checkpoint) + "-" + std::to_string(size - 1), ranges.front());
    EXPECT_EQ(md5Hex(content), md5Hex(readFile(m_folder + "/s.bin")));
}

TEST_F(DownloadEngineTest, AUrlExpiredUnderEveryRangeIsRefreshedOnceForAllOfThem)
{
    Watchdog watchdog("expired url", std::chrono::seconds(110));
    const std::string content = patternedBytes(4 * MiB, 12);
    m_rest.addMultipartFile(kBucket, "X1", content, MultipartLayout{RestRoutes::evenParts(4 * MiB, MiB), false, {}});
    // The preparation's URL has expired at the storage while its details still call it valid: each
    // range's first request is refused.
    const std::string expired = m_service.expiredStorageUrl(RestRoutes::fileKey(kBucket, "X1"));
    m_service.faults().add(FaultRule{"GET", detailsPath("X1"), 1, 1, rest_faults::setMember("url", expired)});
    const std::int32_t id = createGroup(m_folder, MiB);
    start(id, {details("X1", "x.bin", 4 * MiB)});

    ASSERT_TRUE(waitForGroup(id, CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_TRUE(content == readFile(m_folder + "/x.bin"));
    const auto requests = m_service.log().forPath(storagePathOf("X1"));
    const auto refused = std::count_if(requests.begin(), requests.end(), [&](const auto& request) {
        return expired.size() >= request.target.size() &&
               expired.compare(expired.size() - request.target.size(), request.target.size(), request.target) == 0;
    });
    EXPECT_GE(refused, 1);
    // The preparation's details and one refresh for the four ranges.
    EXPECT_EQ(2u, m_service.log().forPath(detailsPath("X1")).size());
    EXPECT_EQ(0, allRows());
}

TEST_F(DownloadEngineTest, ADatabaseHeldPastTheBusyTimeOutLeavesRowsThatTheNextRestoreClears)
{
    Watchdog watchdog("database held", std::chrono::seconds(110));
    tearDownParts();
    fv_transfers::CDbHolder::releaseInstance();
    ASSERT_TRUE(fv_transfers::CDbHolder::createInstance(1));
    build(quickRetries());
    const std::string content = patternedBytes(MiB, 13);
    m_rest.addMultipartFile(kBucket, "D1", content, MultipartLayout{RestRoutes::evenParts(MiB, 256 * KiB), false, {}});
    m_service.faults().add(FaultRule{"GET", storagePathOf("D1"), 1, 0, Fault::trickle(16 * KiB, 10)});
    const std::int32_t id = createGroup(m_folder, 256 * KiB);
    start(id, {details("D1", "d.bin", MiB)});
    ASSERT_TRUE(waitUntil([&] { return bytesOf("D1") > 0; }, 60000));

    // Every state write from here on fails: the ranges' done states, the completed file's rows.
    LogCapture log;
    auto other = std::make_unique<DatabaseHold>(db().getConnection()->path());
    ASSERT_TRUE(other->held);
    ASSERT_TRUE(waitForGroup(id, CTransferManagerBase::GROUP_COMPLETED));
    other.reset();
    EXPECT_GE(log.count("Unable to store the channel state 3"), 1) << log.text();
    EXPECT_GE(log.count("database is locked"), 1) << log.text();
    EXPECT_EQ(1, log.count("Unable to remove the rows of a completed file")) << log.text();
    // Completed means the bytes are in place; only the bookkeeping is behind.
    EXPECT_TRUE(content == readFile(m_folder + "/d.bin"));
    EXPECT_FALSE(anyTempIn(m_folder));
    EXPECT_GT(allRows(), 0);

    // The next start finds the file in place and clears the rows, without a byte fetched again.
    tearDownParts();
    m_service.faults().clear();
    const std::size_t storageBefore = m_service.log().forPath(storagePathOf("D1")).size();
    const std::size_t detailsBefore = m_service.log().forPath(detailsPath("D1")).size();
    rebuild(quickRetries(), 256 * KiB);
    // The restored group reports its completion in the new session.
    ASSERT_TRUE(waitUntil([&] { return groupEvents(id, CTransferManagerBase::GROUP_COMPLETED) == 2; }, 60000));
    EXPECT_EQ(storageBefore, m_service.log().forPath(storagePathOf("D1")).size());
    EXPECT_EQ(detailsBefore, m_service.log().forPath(detailsPath("D1")).size());
    EXPECT_TRUE(content == readFile(m_folder + "/d.bin"));
    EXPECT_EQ(kModified, mtimeMs(m_folder + "/d.bin"));
    EXPECT_TRUE(waitUntil([&] { return allRows() == 0; }, 20000));
}
