// Storage faults while the exported manager downloads a file in parts in this process: each
// fault ends in a retried, byte-exact file; a fault on every attempt ends in an errored group
// after the configured tries, with nothing at the file's final name.
#include "db/DbHolder.h"
#include "framework/FailedGroupsRestarter.h"
#include "framework/TransferChannel.h"
#include "support/fixtures/DatabaseLock.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "transfers/download/DownloadManagerFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;
// Three parts, each a range with the MD5 its manifest gives; the middle one takes the faults.
constexpr std::uint64_t kPart = 2 * MiB;
constexpr std::uint64_t kSize = 3 * kPart;
constexpr std::uint64_t kFaulted = kPart;
// Body bytes that arrive before a cut; no multiple of any block size.
constexpr std::size_t kCut = 300000;
const char* const kFileId = "M";
const char* const kFileName = "m.bin";

// "bytes=<start>-<end>"
std::uint64_t rangeStart(const std::string& range)
{
    const size_t equals = range.find('=');
    return equals == std::string::npos ? 0 : std::stoull(range.substr(equals + 1));
}

// A fault on the GETs of the middle range and what the range's GETs must then look like.
struct FaultCase {
    std::string name;
    Fault fault;
    unsigned times; // GETs that get it, from the first; 0: every one
    // Where each GET of the range starts, counted from the range's first byte.
    std::vector<std::uint64_t> starts;
    std::size_t detailsCalls; // the plan's, and one more for each URL refresh
    bool firstAnswered = true;
    bool lockDatabase = false; // held for 3 s once every range is on its way
};

void PrintTo(const FaultCase& c, std::ostream* out)
{
    *out << c.name;
}

} // namespace

class DownloadFaultTest : public DownloadManagerFixture {
protected:
    std::string seedParts()
    {
        const std::string content = patternedBytes(kSize, 5);
        m_rest.addMultipartFile(kBucket, kFileId, content,
                                MultipartLayout{RestRoutes::evenParts(kSize, kPart), true, {}});
        return content;
    }
    FaultRule onTheFaultedRange(Fault fault, unsigned times) const
    {
        return FaultRule{"GET", storagePathOf(kFileId), 1, times, std::move(fault)}.whenHeader(
            "Range", "bytes=" + std::to_string(kFaulted) + "-");
    }
    // Over the manager made last.
    int startDownload()
    {
        m_manager->subscribeToEvents(&m_events);
        m_manager->startup();
        const int id = createGroup();
        EXPECT_GE(id, 0);
        queue(id, {details(kFileId, kFileName, kSize)});
        return id;
    }
    std::vector<LoggedRequest> getsOfRange(std::uint64_t offset)
    {
        std::vector<LoggedRequest> gets;
        for (const LoggedRequest& get : storageGets(kFileId)) {
            const std::uint64_t start = rangeStart(get.headers.get("Range"));
            if (start >= offset && start < offset + kPart)
                gets.push_back(get);
        }
        return gets;
    }
    std::vector<std::uint64_t> startsInRange(std::uint64_t offset)
    {
        std::vector<std::uint64_t> starts;
        for (const LoggedRequest& get : getsOfRange(offset))
            starts.push_back(rangeStart(get.headers.get("Range")) - offset);
        return starts;
    }
    std::string finalPath() const { return m_folder + "/" + kFileName; }
};

class EveryStorageFault : public DownloadFaultTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    // Another program's write lock on the app folder's database while the ranges download: the
    // library waits for it rather than failing or finishing around it.
    void holdTheDatabase(int groupId)
    {
        ASSERT_TRUE(waitUntil([&] { return storageGets(kFileId).size() >= kSize / kPart; }, 30000));
        using fv_transfers::CFvTransfersGlobalConfig;
        DatabaseLock lock(fv_transfers::CDbHolder::makeDbFilePath(CFvTransfersGlobalConfig::getDbFileName()), 10s);
        ASSERT_TRUE(lock.held());
        std::this_thread::sleep_for(3s);
        EXPECT_FALSE(completed(groupId));
        EXPECT_TRUE(lock.release());
    }
};

TEST_P(EveryStorageFault, EndsInARetriedByteExactFile)
{
    const FaultCase& c = GetParam();
    Watchdog watchdog(c.name, 100s);
    const std::string content = seedParts();
    m_service.faults().add(onTheFaultedRange(c.fault, c.times));
    makeManager();
    const int id = startDownload();
    if (c.lockDatabase)
        holdTheDatabase(id);

    ASSERT_TRUE(waitUntil([&] { return completed(id); }, 60000));
    EXPECT_EQ(md5Hex(content), md5Hex(readFile(finalPath())));
    EXPECT_EQ(std::vector<std::string>{kFileName}, folderEntries(m_folder));
    EXPECT_TRUE(waitUntil([&] { return allRows() == 0; }, 30000));
    // Recovered within the range's own tries: neither the file nor the group ever erred.
    EXPECT_FALSE(reached(id, CTransferManagerBase::GROUP_ERRORED));
    EXPECT_FALSE(m_events.fileReached(kFileId, CTransferManagerBase::FILE_ERRORED));

    EXPECT_EQ(c.starts, startsInRange(kFaulted));
    const auto faulted = getsOfRange(kFaulted);
    ASSERT_FALSE(faulted.empty());
    EXPECT_EQ(c.firstAnswered, faulted.front().finishedAt != 0);
    for (const std::uint64_t other : {std::uint64_t(0), 2 * kPart})
        EXPECT_EQ(std::vector<std::uint64_t>{0}, startsInRange(other)) << "range at " << other;
    EXPECT_EQ(c.detailsCalls, m_service.log().forPath(detailsPath(kFileId)).size());
}

INSTANTIATE_TEST_SUITE_P(
    DownloadFaultTest, EveryStorageFault,
    ::testing::Values(
        FaultCase{"Status500Twice", Fault::statusCode(500), 2, {0, 0, 0}, 1},
        FaultCase{"Status403OnAnUnexpiredUrl", Fault::statusCode(403, "signature does not match"), 1, {0, 0}, 2},
        // A reset continues from the bytes written; the digest is rebuilt from the file.
        FaultCase{"ResetMidBody", Fault::closeMidBody(kCut), 1, {0, kCut}, 1},
        FaultCase{"StallBeforeTheHead", Fault::stall(), 1, {0, 0}, 1, false},
        FaultCase{"Trickle", Fault::trickle(16 * KiB, 10), 0, {0}, 1},
        FaultCase{"MalformedHead", Fault::malformedHead(), 1, {0, 0}, 1},
        // Only the range's MD5 sees the byte: the range is fetched again whole.
        FaultCase{"FlippedBodyByte", Fault::flipBodyByte(kCut), 1, {0, 0}, 1},
        FaultCase{"ShortChunkedBody", Fault::shortChunked(kCut), 1, {0, kCut}, 1},
        FaultCase{"DatabaseLockedForThreeSeconds", Fault::trickle(16 * KiB, 20), 0, {0}, 1, true, true}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// The configured tries, each refused, end the file and its group as errored with the connect
// outcome; no automatic restart is due within the test, and the final name never appears.
TEST_F(DownloadFaultTest, AFaultOnEveryAttemptErrsTheGroupAfterTheConfiguredTries)
{
    Watchdog watchdog("every attempt fails", 100s);
    fv_transfers::CFailedGroupsRestarter::getInstance()->setInterval(std::chrono::hours(1));
    seedParts();
    m_service.faults().add(onTheFaultedRange(Fault::statusCode(500), 0));
    makeManager();
    CTransferManagerBase::Configuration configuration = m_manager->getConfiguration();
    configuration.maxTransferRetries = 4;
    ASSERT_EQ(0, m_manager->setConfiguration(configuration));
    const int id = startDownload();

    ASSERT_TRUE(waitUntil([&] { return reached(id, CTransferManagerBase::GROUP_ERRORED); }, 60000));
    for (const auto& event : m_events.groups.values()) {
        if (event.id == id && event.state == CTransferManagerBase::GROUP_ERRORED) {
            EXPECT_EQ(fv_transfers::ITransferChannel::outcomeConnect, event.errorCode);
        }
    }
    bool fileErrored = false;
    for (const auto& event : m_events.fileEvents(kFileId)) {
        if (event.state == CTransferManagerBase::FILE_ERRORED) {
            fileErrored = true;
            EXPECT_EQ(fv_transfers::ITransferChannel::outcomeConnect, event.errorCode);
        }
    }
    EXPECT_TRUE(fileErrored);
    EXPECT_EQ((std::vector<std::uint64_t>{0, 0, 0, 0}), startsInRange(kFaulted));
    EXPECT_FALSE(completed(id));
    EXPECT_FALSE(std::filesystem::exists(finalPath()));

    // A cancel gives up the temporary file too: nothing of the file stays in the folder.
    m_manager->cancelGroup(id);
    EXPECT_TRUE(waitUntil([&] { return folderEntries(m_folder).empty(); }, 30000));
    EXPECT_EQ((std::vector<std::uint64_t>{0, 0, 0, 0}), startsInRange(kFaulted));
}
