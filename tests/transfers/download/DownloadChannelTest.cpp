#include "core/base/DtError.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/system/SystemResourcesStatus.h"
#include "db/DbConnection.h"
#include "db/DownloadChannelsDbInfo.h"
#include "download/DownloadChannel.h"
#include "download/ManifestFileParser.h"
#include "framework/TransferBufferManagerFactory.h"
#include "framework/TransferFileBase.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/fixtures/Watchdog.h"
#include "support/net/TestCa.h"
#include "support/service/TestService.h"

#include <Poco/Delegate.h>
#include <Poco/String.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace fv_transfers;
using fv_test::EventRecorder;
using fv_test::Fault;
using fv_test::FaultRule;
using fv_test::md5Hex;
using fv_test::ServiceRequest;
using fv_test::ServiceResponse;
using fv_test::TempDir;
using fv_test::TestService;
using fv_test::Watchdog;

namespace {

using Event = ITransferChannel::StateEventData;
using Row = CDownloadChannelsDbInfo::ChannelInfo;

constexpr const char* kFileUid = "file-uid";

std::string rangeHeader(std::uint64_t first, std::uint64_t last)
{
    return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

// The file and its URL as a download file would give them; counts the refreshes asked for.
class TestOwner : public CTransferFileBase, public IDownloadUrlSource {
public:
    void getFileUid(std::string& uid) override { uid = kFileUid; }
    void getBucketId(std::string& bucketId) override { bucketId = "bucket"; }
    int getGroupId() override { return 4; }
    int getDownloadUrl(std::string& url, bool force) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (force)
            ++refreshes;
        else
            ++plainAsks;
        url = freshUrl;
        return result;
    }

    std::mutex m_mutex;
    std::string freshUrl;
    int result = dt_success;
    int refreshes = 0;
    int plainAsks = 0;
};

// What the file seam saw of one range, with the row as it stood at each operation. The
// invariant it checks: the stored checkpoint never counts a byte that is not both written and
// synced in the range's current pass, and never one about to be rewritten.
class DurabilityJournal {
public:
    DurabilityJournal(std::shared_ptr<CDbConnection> db, std::uint64_t offset) : m_rows(std::move(db)), m_offset(offset)
    {
    }

    void beforeWrite(std::uint64_t position, std::size_t size)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const Row row = currentRow();
        const std::uint64_t start = position - m_offset;
        if (row.BytesWritten > std::min(m_durable, start))
            m_violations.push_back("write at " + std::to_string(start) + " with checkpoint " +
                                   std::to_string(row.BytesWritten) + ", durable " + std::to_string(m_durable));
        if (row.State == ITransferChannel::stateCompleted)
            m_violations.push_back("write after state 3");
        m_durable = std::min(m_durable, start);
        m_written = start < m_written ? start + size : std::max(m_written, start + size);
        ++m_writes;
    }
    void beforeSync()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const Row row = currentRow();
        if (row.BytesWritten > m_durable)
            m_violations.push_back("checkpoint " + std::to_string(row.BytesWritten) + " stored before its sync");
        if (row.State == ITransferChannel::stateCompleted)
            m_violations.push_back("state 3 stored before the last sync");
        m_checkpoints.push_back(row.BytesWritten);
        m_durable = m_written;
        m_writesAtLastSync = m_writes;
    }

    std::vector<std::string> violations()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_violations;
    }
    // The checkpoints seen stored at each sync.
    std::vector<std::uint64_t> checkpoints()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_checkpoints;
    }
    // Bytes of the current pass that a sync made durable.
    std::uint64_t durable()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_durable;
    }
    bool syncedAfterLastWrite()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_writesAtLastSync == m_writes;
    }

private:
    Row currentRow()
    {
        std::vector<Row> rows;
        m_rows.selectAll(rows);
        for (const Row& row : rows)
            if (row.FileUid == kFileUid && row.Offset == m_offset)
                return row;
        return Row{};
    }

    CDownloadChannelsDbInfo m_rows;
    const std::uint64_t m_offset;
    std::mutex m_mutex;
    std::uint64_t m_durable = 0;
    std::uint64_t m_written = 0;
    std::size_t m_writes = 0;
    std::size_t m_writesAtLastSync = 0;
    std::vector<std::uint64_t> m_checkpoints;
    std::vector<std::string> m_violations;
};

// The platform's file behind the journal; `failFrom` makes writes reaching that file position
// fail as a full disk does.
class RecordingFile : public ILocalFile {
public:
    RecordingFile(DurabilityJournal* journal, std::uint64_t failFrom)
        : m_file(createLocalFile()), m_journal(journal), m_failFrom(failFrom)
    {
    }

    bool open(const std::string& path, bool writable) override { return m_file->open(path, writable); }
    void close() override { m_file->close(); }
    bool write(const void* data, std::size_t size) override { return m_file->write(data, size); }
    bool read(void* buffer, std::size_t size, std::size_t& count) override { return m_file->read(buffer, size, count); }
    bool seek(std::uint64_t offset) override { return m_file->seek(offset); }
    bool readAt(void* buffer, std::size_t size, std::uint64_t offset, std::size_t& count) override
    {
        return m_file->readAt(buffer, size, offset, count);
    }
    bool writeAt(const void* data, std::size_t size, std::uint64_t offset) override
    {
        if (offset + size > m_failFrom) {
            m_error = ENOSPC;
            return false;
        }
        if (m_journal)
            m_journal->beforeWrite(offset, size);
        return m_file->writeAt(data, size, offset);
    }
    bool sync() override
    {
        if (m_journal)
            m_journal->beforeSync();
        return m_file->sync();
    }
    int lastError() const override { return m_error ? m_error : m_file->lastError(); }

private:
    std::unique_ptr<ILocalFile> m_file;
    DurabilityJournal* m_journal;
    const std::uint64_t m_failFrom;
    int m_error = 0;
};

// One object on the test service (HTTP or HTTPS by the parameter), a temp file of its size, a
// channel database and an owner.
class DownloadChannelTest : public ::testing::TestWithParam<bool> {
protected:
    static constexpr std::size_t kObjectSize = 512 * 1024;
    static constexpr std::uint64_t kOffset = 131072;
    static constexpr std::uint64_t kRangeSize = 262144;

    explicit DownloadChannelTest(bool signedStorage = false) : m_service(serviceOptions(signedStorage))
    {
        fv_test::prepareTransportTest();
        CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
        m_object = fv_test::patternedBytes(kObjectSize, 11);
        m_service.model().objects().put("object", m_object);
        m_path = m_dir.file("temp");
        fv_test::writeFile(m_path, std::string(kObjectSize, '\0'));
        std::string error;
        m_db = CDbConnection::open(m_dir.file("transfers.db"), 5, error);
        m_rows = std::make_shared<CDownloadChannelsDbInfo>(m_db);
        m_buffers = createTransferBufferManager(0);
        m_buffers->init(8 * 1024 * 1024);
        m_seams.firstBackOff = std::chrono::milliseconds(1);
        m_seams.maxBackOff = std::chrono::milliseconds(2);
        m_owner.freshUrl = objectUrl("?fresh");
    }

    static fv_test::TestServiceOptions serviceOptions(bool signedStorage)
    {
        fv_test::TestServiceOptions options;
        options.https = true;
        options.requireSignedStorage = signedStorage;
        return options;
    }

    bool secure() const { return GetParam(); }
    std::string url(const std::string& path) const { return m_service.url(path, secure()); }
    std::string objectUrl(const std::string& query = "") const { return url("/storage/object" + query); }
    std::string range(std::uint64_t offset = kOffset, std::uint64_t size = kRangeSize) const
    {
        return m_object.substr(offset, size);
    }
    std::string localBytes(std::uint64_t offset = kOffset, std::uint64_t size = kRangeSize) const
    {
        return fv_test::readFile(m_path).substr(offset, size);
    }

    // Journals the range at `offset` through the file seam of the channels made next; writes
    // reaching `failFrom` fail.
    DurabilityJournal& recordFiles(std::uint64_t offset = kOffset, std::uint64_t failFrom = ~0ull)
    {
        m_journals.push_back(std::make_unique<DurabilityJournal>(m_db, offset));
        m_journal = m_journals.back().get();
        DurabilityJournal* journal = m_journal;
        m_seams.fileFactory = [journal, failFrom] { return std::make_unique<RecordingFile>(journal, failFrom); };
        return *journal;
    }

    std::unique_ptr<CDownloadChannel> makeChannel(DownloadChannelParams params, const std::string& startUrl,
                                                  int maxRetries = 3, DownloadCheckpointPolicy policy = {})
    {
        if (params.tempPath.empty())
            params.tempPath = m_path;
        auto channel =
            std::make_unique<CDownloadChannel>(params, &m_owner, &m_owner, 2, m_buffers, m_rows, m_seams, policy);
        channel->setMaxRetries(maxRetries);
        if (!startUrl.empty())
            channel->setUrl(startUrl);
        channel->stateEvent += Poco::delegate(this, &DownloadChannelTest::onState);
        channel->progressEvent += Poco::delegate(this, &DownloadChannelTest::onProgress);
        return channel;
    }
    DownloadChannelParams rangeParams(std::uint64_t checkpoint = 0, const std::string& md5 = "") const
    {
        return DownloadChannelParams{"", kOffset, kRangeSize, md5.empty() ? md5Hex(range()) : md5, checkpoint, true};
    }

    // Only between runs: no channel thread may raise an event meanwhile.
    void resetEvents() { m_events = std::make_unique<EventRecorder<Event>>(); }
    void onState(const void*, Event& event) { m_events->record(event); }
    void onProgress(const void*, Poco::Int64& bytes) { m_progress += bytes; }

    // The last event of a run ({-1, -1} when it did not end).
    Event endOf(CDownloadChannel& channel)
    {
        if (!fv_test::waitUntil([&] { return !channel.isRunning(); }, 20000))
            return {-1, -1};
        const auto events = m_events->values();
        return events.empty() ? Event{-1, -1} : events.back();
    }
    Row storedRow(std::uint64_t offset = kOffset)
    {
        std::vector<Row> rows;
        m_rows->selectAll(rows);
        for (const Row& row : rows)
            if (row.Offset == offset)
                return row;
        return Row{};
    }
    std::vector<std::string> rangesAsked(const std::string& path = "/storage/object")
    {
        std::vector<std::string> result;
        for (const auto& request : m_service.log().forPath(path))
            result.push_back(request.headers.get("Range"));
        return result;
    }

    TempDir m_dir;
    TestService m_service;
    std::string m_object;
    std::string m_path;
    std::shared_ptr<CDbConnection> m_db;
    std::shared_ptr<CDownloadChannelsDbInfo> m_rows;
    std::shared_ptr<ITransferBufferManager> m_buffers;
    ChannelSeams m_seams;
    std::vector<std::unique_ptr<DurabilityJournal>> m_journals;
    DurabilityJournal* m_journal = nullptr; // the latest
    TestOwner m_owner;
    std::unique_ptr<EventRecorder<Event>> m_events = std::make_unique<EventRecorder<Event>>();
    std::atomic<Poco::Int64> m_progress{0};
};

} // namespace

TEST_P(DownloadChannelTest, DownloadsItsRangeAndStoresItsRowDone)
{
    Watchdog watchdog("a plain range");
    auto channel = makeChannel(rangeParams(), objectUrl());
    channel->start();
    const Event end = endOf(*channel);
    EXPECT_EQ(ITransferChannel::stateCompleted, end.state);
    EXPECT_EQ(md5Hex(range()), md5Hex(localBytes()));
    EXPECT_EQ(static_cast<Poco::Int64>(kRangeSize), m_progress.load());
    EXPECT_EQ(std::vector<std::string>{rangeHeader(kOffset, kOffset + kRangeSize - 1)}, rangesAsked());
    EXPECT_EQ("*/*", m_service.log().forPath("/storage/object").at(0).headers.get("Accept"));
    EXPECT_EQ(3u, storedRow().State);
    EXPECT_EQ(kRangeSize, storedRow().BytesToTransfer);
    EXPECT_EQ(0, m_owner.plainAsks + m_owner.refreshes);
}

// Every request names the rest of the range, from its first byte, from far into the object and
// from a checkpoint alike.
TEST_P(DownloadChannelTest, EveryRequestAsksForTheRestOfItsRange)
{
    struct Case {
        std::uint64_t offset;
        std::uint64_t size;
        std::uint64_t checkpoint;
        std::string range;
    };
    const Case cases[] = {
        {0, kRangeSize, 0, "bytes=0-262143"},
        {52428800, 52428800, 0, "bytes=52428800-104857599"},
        {0, kRangeSize, 1000, "bytes=1000-262143"},
    };
    std::filesystem::resize_file(m_path, 104857600); // sparse
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        Watchdog watchdog("range header " + c.range);
        m_service.log().clear();
        resetEvents();
        auto channel = makeChannel({m_path, c.offset, c.size, "", c.checkpoint, true}, url("/storage/missing"), 1);
        channel->start();
        EXPECT_EQ(ITransferChannel::stateErrored, endOf(*channel).state);
        EXPECT_EQ(std::vector<std::string>{c.range}, rangesAsked("/storage/missing"));
    }
}

TEST_P(DownloadChannelTest, EmptyRangeSendsNoRequest)
{
    Watchdog watchdog("an empty range");
    auto channel = makeChannel({m_path, kOffset, 0, md5Hex(""), 0, true}, "");
    channel->start();
    EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*channel).state);
    EXPECT_EQ(0u, m_service.log().size());
    EXPECT_EQ(0, m_owner.plainAsks);
}

// Only an answer that is exactly the range asked for is written: anything else fails the
// attempt before a byte reaches the file.
TEST_P(DownloadChannelTest, AnswersThatAreNotTheRangeLeaveTheFileUntouched)
{
    struct Case {
        const char* name;
        std::uint64_t offset;
        std::uint64_t size;
        Fault fault;
        bool completes;
    };
    const std::string whole = m_object;
    const Case cases[] = {
        {"200 to a range further in", kOffset, kRangeSize, Fault::statusCode(200, whole, "application/octet-stream"),
         false},
        {"200 at offset 0 longer than the range", 0, kRangeSize,
         Fault::statusCode(200, whole, "application/octet-stream"), false},
        {"200 that is the whole range", 0, kObjectSize, Fault::statusCode(200, whole, "application/octet-stream"),
         true},
        {"206 of other bytes", kOffset, kRangeSize,
         Fault::mutateResponse([](ServiceResponse& r) { r.headers.set("Content-Range", "bytes 0-262143/524288"); }),
         false},
        {"206 of a longer range", kOffset, kRangeSize, Fault::mutateResponse([](ServiceResponse& r) {
             r.headers.set("Content-Range", "bytes 131072-524287/524288");
         }),
         false},
        {"206 without Content-Range", kOffset, kRangeSize,
         Fault::mutateResponse([](ServiceResponse& r) { r.headers.remove("Content-Range"); }), false},
        {"404", kOffset, kRangeSize, Fault::statusCode(404), false},
        {"500", kOffset, kRangeSize, Fault::statusCode(500), false},
        {"416", kOffset, kRangeSize, Fault::statusCode(416), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(c.name);
        fv_test::writeFile(m_path, std::string(kObjectSize, '\0'));
        m_service.faults().clear();
        m_service.faults().add({"GET", "/storage/*", 1, 0, c.fault});
        resetEvents();
        m_progress = 0;
        auto channel = makeChannel({m_path, c.offset, c.size, "", 0, true}, objectUrl(), 2);
        channel->start();
        const Event end = endOf(*channel);
        if (c.completes) {
            EXPECT_EQ(ITransferChannel::stateCompleted, end.state);
            EXPECT_EQ(m_object, fv_test::readFile(m_path));
            continue;
        }
        EXPECT_EQ(ITransferChannel::stateErrored, end.state);
        EXPECT_EQ(std::string(kObjectSize, '\0'), fv_test::readFile(m_path));
        EXPECT_EQ(0, m_progress.load());
        EXPECT_EQ(2u, storedRow(c.offset).State);
    }
}

TEST_P(DownloadChannelTest, RedirectsAreFollowedWithoutTheOwner)
{
    // Relative to the redirecting URL: "/moved/<status>/x" + "../../storage/object".
    m_service.routes().add("GET", "/moved/*", [](ServiceRequest& request, ServiceResponse& response) {
        response.status = std::stoi(request.param("*"));
        response.headers.set("Location", "../../storage/object?redirected");
    });
    for (const int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        Watchdog watchdog("redirect " + std::to_string(status));
        resetEvents();
        m_progress = 0;
        fv_test::writeFile(m_path, std::string(kObjectSize, '\0'));
        auto channel = makeChannel(rangeParams(), url("/moved/" + std::to_string(status) + "/x"));
        channel->start();
        EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*channel).state);
        EXPECT_EQ(md5Hex(range()), md5Hex(localBytes()));
        EXPECT_EQ(static_cast<Poco::Int64>(kRangeSize), m_progress.load());
    }
    EXPECT_EQ(5u, m_service.log().forPath("/storage/object").size());
    EXPECT_EQ(0, m_owner.plainAsks + m_owner.refreshes);
}

TEST_P(DownloadChannelTest, RedirectLoopEndsAfterTheCap)
{
    Watchdog watchdog("a redirect loop");
    m_service.routes().add("GET", "/loop", [](ServiceRequest&, ServiceResponse& response) {
        response.status = 302;
        response.headers.set("Location", "/loop");
    });
    auto channel = makeChannel(rangeParams(), url("/loop"), 2);
    channel->start();
    const Event end = endOf(*channel);
    EXPECT_EQ(ITransferChannel::stateErrored, end.state);
    EXPECT_EQ(ITransferChannel::outcomeConnect, end.outcome);
    // Two attempts of one request and the capped redirects each.
    EXPECT_EQ(static_cast<std::size_t>(2 * (1 + CTransferChannelBase::kMaxRedirectsPerAttempt)),
              m_service.log().forPath("/loop").size());
}

TEST_P(DownloadChannelTest, RefusedUrlIsRefreshedThroughTheOwnerAndKept)
{
    Watchdog watchdog("a refused URL");
    m_service.faults().add({"GET", "/storage/*", 1, 1, Fault::statusCode(403)});
    auto channel = makeChannel(rangeParams(), objectUrl("?expired"));
    channel->start();
    EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*channel).state);
    EXPECT_EQ(1, m_owner.refreshes);
    EXPECT_EQ(md5Hex(range()), md5Hex(localBytes()));
    const auto requests = m_service.log().forPath("/storage/object");
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("/storage/object?fresh", requests[1].target);
    // A later run starts from the refreshed URL, not the refused one.
    resetEvents();
    channel->start();
    endOf(*channel);
    EXPECT_EQ("/storage/object?fresh", m_service.log().forPath("/storage/object").back().target);
}

TEST_P(DownloadChannelTest, PermanentlyRefusedUrlFailsAfterTwoRefreshes)
{
    Watchdog watchdog("a permanent 403");
    m_service.faults().add({"GET", "/storage/*", 1, 0, Fault::statusCode(403)});
    auto channel = makeChannel(rangeParams(), objectUrl(), 1);
    channel->start();
    const Event end = endOf(*channel);
    EXPECT_EQ(ITransferChannel::stateErrored, end.state);
    EXPECT_EQ(ITransferChannel::outcomeConnect, end.outcome);
    EXPECT_EQ(CTransferChannelBase::kMaxRefreshesPerAttempt, m_owner.refreshes);
    EXPECT_EQ(3u, m_service.log().forPath("/storage/object").size());
}

TEST_P(DownloadChannelTest, NoUrlFromTheOwnerEndsTheRun)
{
    Watchdog watchdog("no URL");
    m_owner.freshUrl.clear();
    auto channel = makeChannel(rangeParams(), "");
    channel->start();
    const Event end = endOf(*channel);
    EXPECT_EQ(ITransferChannel::stateErrored, end.state);
    EXPECT_EQ(ITransferChannel::outcomePrepare, end.outcome);
    EXPECT_EQ(0u, m_service.log().size());
}

TEST_P(DownloadChannelTest, ChunkedBodyBytesThatCameWithTheHeadAreWrittenOnce)
{
    Watchdog watchdog("a chunked body");
    m_service.faults().add({"GET", "/storage/*", 1, 1, Fault::chunked({7, 1000, 65536})});
    auto channel = makeChannel(rangeParams(), objectUrl(), 1);
    channel->start();
    EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*channel).state);
    EXPECT_EQ(range(), localBytes());
    EXPECT_EQ(static_cast<Poco::Int64>(kRangeSize), m_progress.load());
}

TEST_P(DownloadChannelTest, FullDiskEndsWithALocalFileErrorAndNeverDone)
{
    Watchdog watchdog("a full disk");
    recordFiles(kOffset, kOffset + 100000);
    auto channel = makeChannel(rangeParams(), objectUrl(), 2);
    channel->start();
    const Event end = endOf(*channel);
    EXPECT_EQ(ITransferChannel::stateErrored, end.state);
    EXPECT_EQ(ITransferChannel::outcomeLocalFile, end.outcome);
    EXPECT_EQ(2u, storedRow().State);
    EXPECT_TRUE(m_journal->violations().empty());
    for (const auto& event : m_events->values())
        EXPECT_NE(ITransferChannel::stateCompleted, event.state);
}

// A broken body continues from the bytes written; checkpoints are stored along the way, each
// after the sync of the bytes it counts, and the row says done only after the last sync.
TEST_P(DownloadChannelTest, CheckpointsAndDoneFollowTheSyncOfTheirBytes)
{
    Watchdog watchdog("checkpoint order");
    recordFiles();
    m_service.faults().add({"GET", "/storage/*", 1, 1, Fault::closeMidBody(100000)});
    auto channel = makeChannel(rangeParams(), objectUrl(), 3, {16384, std::chrono::hours(1)});
    channel->start();
    EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*channel).state);
    EXPECT_EQ(md5Hex(range()), md5Hex(localBytes()));
    const auto ranges = rangesAsked();
    ASSERT_EQ(2u, ranges.size());
    const std::uint64_t continuedAt = std::stoull(ranges[1].substr(6));
    EXPECT_GT(continuedAt, kOffset);
    EXPECT_LE(continuedAt, kOffset + 100000);
    EXPECT_EQ(rangeHeader(continuedAt, kOffset + kRangeSize - 1), ranges[1]);
    EXPECT_TRUE(m_journal->violations().empty()) << m_journal->violations().front();
    EXPECT_TRUE(m_journal->syncedAfterLastWrite());
    const auto checkpoints = m_journal->checkpoints();
    EXPECT_TRUE(std::any_of(checkpoints.begin(), checkpoints.end(), [](std::uint64_t c) { return c > 0; }));
    EXPECT_EQ(3u, storedRow().State);
}

// A range whose digest does not match starts over; its checkpoint goes back to 0 before the
// first byte is written again, and the row never says done for the bad bytes.
TEST_P(DownloadChannelTest, RangeThatStartsOverStoresCheckpointZeroFirst)
{
    Watchdog watchdog("a range that starts over");
    recordFiles();
    std::string corrupt = range();
    corrupt[200000] ^= 0x5a;
    m_service.faults().add({"GET", "/storage/*", 1, 1, Fault::mutateResponse([corrupt](ServiceResponse& r) {
                                r.stream.reset();
                                r.body = corrupt;
                            })});
    auto channel = makeChannel(rangeParams(), objectUrl(), 3, {16384, std::chrono::hours(1)});
    channel->start();
    EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*channel).state);
    EXPECT_EQ(range(), localBytes());
    const std::string whole = rangeHeader(kOffset, kOffset + kRangeSize - 1);
    EXPECT_EQ((std::vector<std::string>{whole, whole}), rangesAsked());
    EXPECT_TRUE(m_journal->violations().empty()) << m_journal->violations().front();
    EXPECT_EQ(static_cast<Poco::Int64>(kRangeSize), m_progress.load());
}

TEST_P(DownloadChannelTest, WrongDigestNeverStoresDone)
{
    Watchdog watchdog("a wrong digest");
    recordFiles();
    auto channel = makeChannel(rangeParams(0, md5Hex("other bytes")), objectUrl(), 2);
    channel->start();
    const Event end = endOf(*channel);
    EXPECT_EQ(ITransferChannel::stateErrored, end.state);
    EXPECT_EQ(ITransferChannel::outcomeData, end.outcome);
    EXPECT_EQ(2u, storedRow().State);
    EXPECT_TRUE(m_journal->violations().empty()) << m_journal->violations().front();
}

// A channel built from a checkpoint asks only for the rest, rebuilds the digest of the bytes
// already in the file (matched without regard to case) and reports only the new bytes.
TEST_P(DownloadChannelTest, ChannelFromACheckpointContinuesWithAMatchingDigest)
{
    Watchdog watchdog("a checkpoint");
    constexpr std::uint64_t kCheckpoint = 100000;
    std::string file(kObjectSize, '\0');
    file.replace(kOffset, kCheckpoint, m_object.substr(kOffset, kCheckpoint));
    fv_test::writeFile(m_path, file);
    recordFiles();
    auto channel = makeChannel(rangeParams(kCheckpoint, Poco::toUpper(md5Hex(range()))), objectUrl());
    channel->start();
    EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*channel).state);
    EXPECT_EQ(std::vector<std::string>{rangeHeader(kOffset + kCheckpoint, kOffset + kRangeSize - 1)}, rangesAsked());
    EXPECT_EQ(range(), localBytes());
    EXPECT_EQ(static_cast<Poco::Int64>(kRangeSize - kCheckpoint), m_progress.load());
    EXPECT_EQ(kCheckpoint, storedRow().BytesWritten);
    EXPECT_EQ(3u, storedRow().State);
}

TEST_P(DownloadChannelTest, CompleteCheckpointFinishesWithoutARequest)
{
    Watchdog watchdog("a complete checkpoint");
    fv_test::writeFile(m_path, m_object);
    auto channel = makeChannel(rangeParams(kRangeSize), "");
    channel->start();
    EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*channel).state);
    EXPECT_EQ(0u, m_service.log().size());
    EXPECT_EQ(0, m_progress.load());
}

// The interval bounds how long written bytes stay uncounted when they come slowly.
TEST_P(DownloadChannelTest, CheckpointIsStoredWhenTheIntervalPasses)
{
    Watchdog watchdog("checkpoint interval");
    recordFiles();
    // Each reading of the clock is a minute later: every write finds the interval passed.
    auto ticks = std::make_shared<std::atomic<int>>(0);
    m_seams.clock = [ticks] { return std::chrono::steady_clock::time_point(std::chrono::minutes(++*ticks)); };
    auto channel = makeChannel(rangeParams(), objectUrl(), 1, {~0ull, std::chrono::seconds(10)});
    channel->start();
    EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*channel).state);
    const auto checkpoints = m_journal->checkpoints();
    EXPECT_TRUE(std::any_of(checkpoints.begin(), checkpoints.end(), [](std::uint64_t c) { return c > 0; }));
    EXPECT_TRUE(m_journal->violations().empty()) << m_journal->violations().front();
}

TEST_P(DownloadChannelTest, OnlyANewChannelStoresItsRow)
{
    DownloadChannelParams restored = rangeParams(0);
    restored.storeRow = false;
    makeChannel(restored, objectUrl());
    std::vector<Row> rows;
    m_rows->selectAll(rows);
    EXPECT_TRUE(rows.empty());
    makeChannel(rangeParams(4096), objectUrl());
    m_rows->selectAll(rows);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(kFileUid, rows[0].FileUid);
    EXPECT_EQ(kOffset, rows[0].Offset);
    EXPECT_EQ(kRangeSize, rows[0].BytesToTransfer);
    EXPECT_EQ(1u, rows[0].State);
    EXPECT_EQ(md5Hex(range()), rows[0].Md5);
    EXPECT_EQ(4096u, rows[0].BytesWritten);
}

namespace {

class NoMemory : public ISystemResourcesStatus {
public:
    bool getAvailableMemory(std::uint64_t& bytes) override
    {
        bytes = 0;
        return true;
    }
};

enum class Op { pause, waitPaused, resume, stop, stopAsync, destroy };

} // namespace

// A channel held inside a body read, the server sending nothing more and the receive time-out
// far away, still honours every order of the engine's operations: stop and stopAsync end it and
// pause parks it while the server holds the body. A run that ends unfinished counts every byte
// it wrote in its row, synced first; a resumed run continues from there.
TEST_P(DownloadChannelTest, OperationsReachAChannelHeldInsideTheBody)
{
    constexpr std::uint64_t kPiece = 32768; // less than the service's send block, so the wait follows it
    struct Case {
        const char* name;
        std::vector<Op> ops;
        std::int32_t end;
        std::vector<int> completions;
    };
    const Case cases[] = {
        {"stop", {Op::stop}, 5, {}},
        {"stopAsync", {Op::stopAsync}, 6, {1}},
        {"pause, stop", {Op::pause, Op::waitPaused, Op::stop}, 5, {}},
        {"pause, stopAsync", {Op::pause, Op::waitPaused, Op::stopAsync}, 6, {1}},
        {"pause, resume", {Op::pause, Op::waitPaused, Op::resume}, 3, {}},
        {"stopAsync, stop", {Op::stopAsync, Op::stop}, 6, {1}},
        {"stop, stopAsync", {Op::stop, Op::stopAsync}, 5, {0}},
        {"destroy", {Op::destroy}, 6, {}},
        {"pause, destroy", {Op::pause, Op::waitPaused, Op::destroy}, 6, {}},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(c.name, std::chrono::seconds(60));
        std::string error;
        m_db = CDbConnection::open(m_dir.file("case" + std::to_string(++index) + ".db"), 5, error);
        m_rows = std::make_shared<CDownloadChannelsDbInfo>(m_db);
        m_service.faults().clear();
        m_service.log().clear();
        m_service.faults().add({"GET", "/storage/*", 1, 1, Fault::trickle(kPiece, 600000)});
        fv_test::writeFile(m_path, std::string(kObjectSize, '\0'));
        resetEvents();
        m_progress = 0;
        recordFiles();
        auto channel = makeChannel(rangeParams(), objectUrl(), 3, {~0ull, std::chrono::hours(1)});
        channel->setTimeouts({0, 600000, 600000});
        channel->start();
        ASSERT_TRUE(
            fv_test::waitUntil([this] { return m_progress.load() >= static_cast<Poco::Int64>(kPiece); }, 20000));
        EventRecorder<int> completions;
        for (Op op : c.ops) {
            switch (op) {
            case Op::pause: channel->pause(); break;
            case Op::waitPaused:
                ASSERT_TRUE(m_events->waitForCount(2));
                EXPECT_EQ(ITransferChannel::statePaused, m_events->values()[1].state);
                break;
            case Op::resume: channel->resume(); break;
            case Op::stop:
                channel->stop();
                EXPECT_FALSE(channel->isRunning());
                break;
            case Op::stopAsync: channel->stopAsync([&completions](int value) { completions.record(value); }); break;
            case Op::destroy: channel.reset(); break;
            }
        }
        const Event end = channel ? endOf(*channel) : m_events->values().back();
        EXPECT_EQ(c.end, end.state);
        EXPECT_TRUE(completions.waitForCount(c.completions.size()));
        EXPECT_EQ(c.completions, completions.values());
        channel.reset();
        EXPECT_TRUE(m_journal->violations().empty()) << m_journal->violations().front();
        if (c.end == ITransferChannel::stateCompleted) {
            EXPECT_EQ(range(), localBytes());
            EXPECT_EQ(rangeHeader(kOffset + kPiece, kOffset + kRangeSize - 1), rangesAsked().back());
            continue;
        }
        const std::uint64_t written = static_cast<std::uint64_t>(m_progress.load());
        EXPECT_EQ(written, storedRow().BytesWritten);
        EXPECT_LE(storedRow().BytesWritten, m_journal->durable());
        EXPECT_EQ(range().substr(0, written), localBytes().substr(0, written));
    }
}

// A process shut down cleanly resumes a range at its last byte: a channel built from the row
// a stopped run left asks only for the rest and its digest matches.
TEST_P(DownloadChannelTest, StoppedRunResumesAtItsLastByte)
{
    Watchdog watchdog("a stopped run resumed", std::chrono::seconds(60));
    constexpr std::uint64_t kPiece = 50000;
    m_service.faults().add({"GET", "/storage/*", 1, 1, Fault::trickle(kPiece, 600000)});
    recordFiles();
    auto first = makeChannel(rangeParams(), objectUrl(), 3, {~0ull, std::chrono::hours(1)});
    first->setTimeouts({0, 600000, 600000});
    first->start();
    ASSERT_TRUE(fv_test::waitUntil([this] { return m_progress.load() >= static_cast<Poco::Int64>(kPiece); }, 20000));
    first->stop();
    first.reset();
    const std::uint64_t checkpoint = storedRow().BytesWritten;
    EXPECT_EQ(kPiece, checkpoint);
    DownloadChannelParams restored = rangeParams(checkpoint);
    restored.storeRow = false;
    auto second = makeChannel(restored, objectUrl());
    second->start();
    EXPECT_EQ(ITransferChannel::stateCompleted, endOf(*second).state);
    EXPECT_EQ(rangeHeader(kOffset + kPiece, kOffset + kRangeSize - 1), rangesAsked().back());
    EXPECT_EQ(range(), localBytes());
    EXPECT_TRUE(m_journal->violations().empty()) << m_journal->violations().front();
}

// A run that fails after writing part of its range counts those bytes too.
TEST_P(DownloadChannelTest, FailedRunCountsTheBytesItWrote)
{
    Watchdog watchdog("a failed run's checkpoint");
    recordFiles();
    m_service.faults().add({"GET", "/storage/*", 1, 1, Fault::closeMidBody(100000)});
    auto channel = makeChannel(rangeParams(), objectUrl(), 1, {~0ull, std::chrono::hours(1)});
    channel->start();
    const Event end = endOf(*channel);
    EXPECT_EQ(ITransferChannel::stateErrored, end.state);
    const std::uint64_t written = static_cast<std::uint64_t>(m_progress.load());
    EXPECT_GT(written, 0u);
    EXPECT_EQ(written, storedRow().BytesWritten);
    EXPECT_LE(written, m_journal->durable());
    EXPECT_TRUE(m_journal->violations().empty()) << m_journal->violations().front();
}

// A pool that stays exhausted ends each attempt of a real channel once the buffer time-out
// passes on its clock; the connection of the attempt is given up and the shortage is logged
// a few times, not once per try.
TEST_P(DownloadChannelTest, ExhaustedPoolEndsEachAttemptAtTheBufferTimeOut)
{
    Watchdog watchdog("an exhausted pool");
    fv_test::LogCapture log;
    m_buffers = createTransferBufferManager(0, std::make_unique<NoMemory>());
    m_buffers->init(0);
    // Each reading of the clock is a second later: the 60 s pass after some 60 tries.
    auto ticks = std::make_shared<std::atomic<int>>(0);
    const auto base = std::chrono::steady_clock::now();
    m_seams.clock = [ticks, base] { return base + std::chrono::seconds(ticks->fetch_add(1)); };
    auto channel = makeChannel(rangeParams(), objectUrl(), 2);
    channel->start();
    const Event end = endOf(*channel);
    EXPECT_EQ(ITransferChannel::stateErrored, end.state);
    EXPECT_EQ(ITransferChannel::outcomeData, end.outcome);
    EXPECT_EQ(2u, m_service.log().forPath("/storage/object").size());
    EXPECT_EQ(2, log.count("Exception caught when retrieving buffer: "));
    const int shortages = log.count("Exception caught when retrieving buffer after");
    EXPECT_GE(shortages, 2);
    EXPECT_LE(shortages, 16);
    EXPECT_EQ(0, m_progress.load());
}

class DownloadRangesTest : public DownloadChannelTest {
protected:
    DownloadRangesTest() : DownloadChannelTest(true) {}
};

std::string manifestText(const std::string& object, std::size_t parts)
{
    const std::size_t partSize = object.size() / parts;
    std::string list;
    for (std::size_t i = 0; i < parts; ++i)
        list += std::string(i ? "," : "") + "{\"number\":" + std::to_string(i + 1) +
                ",\"size\":" + std::to_string(partSize) + ",\"eTag\":\"" +
                md5Hex(object.substr(i * partSize, partSize)) + "\"}";
    return "{\"parts\":[" + list + "],\"eTag\":\"" + md5Hex(object) + "\"}";
}

// One object fetched by four channels into one temp file on signed URLs: one range is cut
// mid-body and continues, one starts on an expired URL and is refreshed once, one starts on a
// redirect; every range matches its part's MD5 and is stored done only after its sync.
TEST_P(DownloadRangesTest, FourRangesFillOneFileThroughBreaksExpiryAndRedirects)
{
    Watchdog watchdog("four ranges", std::chrono::seconds(100));
    constexpr std::uint64_t kBig = 16 * 1024 * 1024;
    constexpr std::uint64_t kPart = kBig / 4;
    const std::string object = fv_test::patternedBytes(kBig, 5);
    m_service.model().objects().put("big", object);
    DownloadManifest manifest;
    ASSERT_EQ(CManifestFileParser::kSuccess, CManifestFileParser::parse(manifestText(object, 4), manifest));
    ASSERT_EQ(4u, manifest.parts.size());
    const std::string temp = m_dir.file("big.temp");
    fv_test::writeFile(temp, "");
    std::filesystem::resize_file(temp, kBig);
    m_owner.freshUrl = m_service.signedStorageUrl("big", std::chrono::hours(1), secure());
    m_service.faults().add(FaultRule{"GET", "/storage/*", 1, 1, Fault::closeMidBody(1000000)}.whenHeader(
        "Range", "bytes=" + std::to_string(kPart) + "-"));
    const std::string startUrls[] = {"", m_owner.freshUrl, m_service.expiredStorageUrl("big", secure()),
                                     m_service.redirectUrl(m_owner.freshUrl, secure())};

    std::vector<std::unique_ptr<CDownloadChannel>> channels;
    std::vector<DurabilityJournal*> journals;
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < manifest.parts.size(); ++i) {
        const ManifestPart& part = manifest.parts[i];
        journals.push_back(&recordFiles(offset));
        channels.push_back(makeChannel({temp, offset, part.size, part.eTag, 0, true}, startUrls[i], 3,
                                       {1024 * 1024, std::chrono::hours(1)}));
        offset += part.size;
    }
    for (auto& channel : channels)
        channel->start();
    for (auto& channel : channels)
        ASSERT_TRUE(fv_test::waitUntil([&] { return !channel->isRunning(); }, 90000));

    EXPECT_EQ(md5Hex(object), md5Hex(fv_test::readFile(temp)));
    EXPECT_EQ(manifest.eTag, md5Hex(fv_test::readFile(temp)));
    EXPECT_EQ(1, m_owner.plainAsks);
    EXPECT_EQ(1, m_owner.refreshes);
    EXPECT_EQ(static_cast<Poco::Int64>(kBig), m_progress.load());
    for (std::size_t i = 0; i < journals.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(3u, storedRow(i * kPart).State);
        EXPECT_TRUE(journals[i]->violations().empty()) << journals[i]->violations().front();
        EXPECT_TRUE(journals[i]->syncedAfterLastWrite());
    }
    std::vector<std::string> secondRange;
    for (const std::string& range : rangesAsked("/storage/big"))
        if (range.size() > 6 && std::stoull(range.substr(6)) >= kPart && std::stoull(range.substr(6)) < 2 * kPart)
            secondRange.push_back(range);
    // The broken request, then the rest of the range from the bytes written.
    ASSERT_EQ(2u, secondRange.size());
    EXPECT_EQ(rangeHeader(kPart, 2 * kPart - 1), secondRange[0]);
    const std::uint64_t continuedAt = std::stoull(secondRange[1].substr(6));
    EXPECT_GT(continuedAt, kPart);
    EXPECT_LE(continuedAt, kPart + 1000000);
    EXPECT_EQ(rangeHeader(continuedAt, 2 * kPart - 1), secondRange[1]);
    EXPECT_EQ(1u, m_service.log().forPath("/redirect").size());
}

INSTANTIATE_TEST_SUITE_P(HttpAndHttps, DownloadChannelTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Https" : "Http"; });
INSTANTIATE_TEST_SUITE_P(HttpAndHttps, DownloadRangesTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Https" : "Http"; });
