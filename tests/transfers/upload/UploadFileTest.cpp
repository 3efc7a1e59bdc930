#include "core/base/DtError.h"
#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/files/FileDigest.h"
#include "core/files/TargetFileSystem.h"
#include "core/rest/TransferRestRecords.h"
#include "db/ChannelsDbInfo.h"
#include "db/DbConnection.h"
#include "db/FilesDbInfo.h"
#include "framework/TransferBufferManagerFactory.h"
#include "framework/TrasfersAsyncTasksExecutor.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/RestFaults.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"
#include "upload/UploadEngineCallback.h"
#include "upload/UploadFile.h"
#include "upload/UploadFileFactory.h"
#include "upload/UploadFileOwner.h"

#include <Poco/DigestEngine.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
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
using fv_test::RestRoutes;
using fv_test::TempDir;
using fv_test::TestService;
using fv_test::Watchdog;
namespace rest_faults = fv_test::rest_faults;

namespace {

using FileState = CTransferManagerBase::FileState;
using ChannelRow = CChannelsDbInfo::ChannelInfo;

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t kMinMultipart = 256 * KiB;
constexpr std::uint64_t kMultipartSize = 640 * KiB; // three parts: 256, 256 and 128 KiB
constexpr std::uint64_t kSingleSize = 200 * KiB;
constexpr const char* kBucket = "B1";
constexpr const char* kToken = "T1";

class TestEngine : public IUploadEngineCallback {
public:
    void resumeGroup(std::int32_t, bool) override {}
    bool hasChannelsOfFile(const ITransferFile*) const override { return false; }
    void cancelFiles(const FileList&) override {}
    void pauseFiles(const FileList&) override {}
    void resumeFiles(const FileList&) override {}
    void scheduleFileDequeue(std::int32_t groupId, const UploadFileDesc& file) override
    {
        dequeues.record({groupId, file.fileUid});
    }
    void addFileChannels(const std::shared_ptr<IUploadFile>&) override {}
    void markGroup(const std::shared_ptr<CUploadGroup>&) override {}
    void wakeUp() override { wakeUps.record(1); }
    std::shared_ptr<ITransferBufferManager> getBufferManager() override { return buffers; }

    EventRecorder<int> wakeUps;
    EventRecorder<std::pair<std::int32_t, std::string>> dequeues;
    std::shared_ptr<ITransferBufferManager> buffers; // set before any file is made
};

class TestOwner : public IUploadFileOwner {
public:
    explicit TestOwner(IUploadEngineCallback* engine) : m_engine(engine) {}
    std::int32_t getGroupId() const override { return 7; }
    void getBucketId(std::string& bucketId) const override { bucketId = kBucket; }
    void getBucketToken(std::string& token) const override { token = kToken; }
    bool verifyUploads() const override { return verify; }
    IUploadEngineCallback* getUploadEngine() override { return m_engine; }
    void notifyFileState(const std::string&, std::int64_t delta, FileState& state, bool reinitOnError) override
    {
        sent += delta;
        if (state.state != CTransferManagerBase::FILE_TRANSFERRING)
            ends.record({state.state, state.errorCode, reinitOnError});
    }
    void restartFile(const std::string&) override { ends.record({kRestarted, 0, false}); }

    // Not a file state: the file asked to run again from new channels.
    static constexpr std::int32_t kRestarted = 100;

    struct End {
        std::int32_t state;
        std::int32_t errorCode;
        bool reinit;
    };
    std::atomic<bool> verify{false};
    std::atomic<std::int64_t> sent{0};
    EventRecorder<End> ends;

private:
    IUploadEngineCallback* m_engine;
};

// Holds a route's answer until opened (or until its deadline, so a failed test never leaves a
// service thread waiting), and runs a step while it holds.
class AnswerGate {
public:
    Fault fault()
    {
        return Fault::mutateResponse([this](fv_test::ServiceResponse&) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_held = true;
            m_changed.notify_all();
            m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_open; });
        });
    }
    bool waitHeld()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_held; });
    }
    void open()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_open = false;
};

Json::Value parseJson(const std::string& text)
{
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    reader->parse(text.data(), text.data() + text.size(), &root, &errors);
    return root;
}

std::string base64Md5(const std::string& content)
{
    const Poco::DigestEngine::Digest digest = Poco::DigestEngine::digestFromHex(md5Hex(content));
    std::string encoded;
    base64Encode(std::vector<unsigned char>(digest.begin(), digest.end()), encoded);
    return encoded;
}

class UploadFileTest : public ::testing::Test {
public:
    // The disk of the local files, for the cases of a table.
    std::string local(const std::string& name) const { return m_dir.file(name); }
    std::uint64_t mtimeMs(const std::string& name)
    {
        return createTargetFileSystem()->status(m_dir.file(name)).modifiedMs;
    }
    void setMtimeMs(const std::string& name, std::uint64_t ms)
    {
        createTargetFileSystem()->setModificationTime(m_dir.file(name), ms);
    }

protected:
    UploadFileTest() : m_rest(m_service)
    {
        fv_test::prepareTransportTest();
        CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(m_service.baseUrl());
        m_rest.addBucket(kBucket, kToken);
        std::string error;
        m_db = CDbConnection::open(m_dir.file("transfers.db"), 5, error);
        m_files = std::make_shared<CFilesDbInfo>(m_db);
        m_channels = std::make_shared<CChannelsDbInfo>(m_db);
        m_buffers = createTransferBufferManager(0);
        m_buffers->init(8 * 1024 * KiB);
        m_engine.buffers = m_buffers;
    }
    ~UploadFileTest() override
    {
        // Channels end before the service: a stalled request must not outlive them.
        for (const auto& channel : m_started)
            channel->stop();
    }

    std::string writeLocal(const std::string& name, std::uint64_t size, unsigned pattern = 5)
    {
        const std::string content = fv_test::patternedBytes(size, pattern);
        fv_test::writeFile(m_dir.file(name), content);
        return content;
    }
    UploadFileDesc desc(const std::string& id, const std::string& name)
    {
        return UploadFileDesc{id, utf8ToWide("file://" + m_dir.file(name))};
    }
    UploadFileEnvironment environment()
    {
        UploadFileEnvironment environment;
        environment.executor = m_executor;
        environment.files = m_files;
        environment.channels = m_channels;
        environment.channelSeams.firstBackOff = std::chrono::milliseconds(1);
        environment.channelSeams.maxBackOff = std::chrono::milliseconds(2);
        return environment;
    }
    std::shared_ptr<IUploadFile> create(const std::string& id, const std::string& name, std::uint64_t size)
    {
        m_rest.addFile(kBucket, id, size);
        return CUploadFileFactory::create(desc(id, name), &m_owner, kMinMultipart, size, environment());
    }
    std::shared_ptr<IUploadFile> restore(const CFilesDbInfo::FileInfo& row, const std::vector<ChannelRow>& channels)
    {
        return CUploadFileFactory::createFromDb(row, channels, &m_owner, kMinMultipart, environment());
    }
    // A new file whose first call to `action` is held by `gate` (null when it never came).
    std::shared_ptr<IUploadFile> createHeldAt(const std::string& action, AnswerGate& gate, const std::string& id,
                                              const std::string& name, std::uint64_t size)
    {
        m_service.faults().add({"POST", "/api/v2/bucket/{b}/file/{f}" + action, 1, 1, gate.fault()});
        auto file = create(id, name, size);
        return gate.waitHeld() ? file : nullptr;
    }
    // prepareUpload until it has an answer.
    int prepare(IUploadFile& file)
    {
        int result = IUploadFile::kNotReady;
        fv_test::waitUntil([&] { return (result = file.prepareUpload()) != IUploadFile::kNotReady; }, 20000);
        return result;
    }
    std::vector<std::shared_ptr<ITransferChannel>> channelsOf(IUploadFile& file)
    {
        std::vector<std::shared_ptr<ITransferChannel>> channels;
        file.getChannels(channels);
        return channels;
    }
    void start(const std::vector<std::shared_ptr<ITransferChannel>>& channels)
    {
        for (const auto& channel : channels) {
            channel->setMaxRetries(2);
            channel->start();
            m_started.push_back(channel);
        }
    }
    // Starts the file's channels as the engine would and waits for the file's end.
    TestOwner::End run(IUploadFile& file, std::size_t endsBefore = 0)
    {
        start(channelsOf(file));
        if (!m_owner.ends.waitForCount(endsBefore + 1, 30000))
            return {-1, -1, false};
        return m_owner.ends.values()[endsBefore];
    }
    std::vector<fv_test::LoggedRequest> rest(const std::string& id, const std::string& action)
    {
        return m_service.log().forPath("/api/v2/bucket/" + std::string(kBucket) + "/file/" + id + action, "POST");
    }
    std::size_t putCount()
    {
        std::size_t count = 0;
        for (const auto& request : m_service.log().all())
            count += request.method == "PUT" ? 1 : 0;
        return count;
    }
    std::vector<std::string> abortedUploadIds(const std::string& id)
    {
        std::vector<std::string> ids;
        for (const auto& request : rest(id, "/upload/multipart/abort"))
            if (request.finishedAt != 0) // its body is whole
                ids.push_back(parseJson(request.body)["uploadId"].asString());
        return ids;
    }
    std::vector<ChannelRow> channelRows()
    {
        std::vector<ChannelRow> rows;
        m_channels->selectAll(rows);
        return rows;
    }
    CFilesDbInfo::FileInfo fileRow(const std::string& id)
    {
        std::vector<CFilesDbInfo::FileInfo> rows;
        m_files->selectAll(rows);
        for (const auto& row : rows)
            if (row.FileUid == id)
                return row;
        return CFilesDbInfo::FileInfo();
    }
    std::string stored(const std::string& id)
    {
        const auto object = m_service.model().objects().find(RestRoutes::fileKey(kBucket, id));
        if (!object)
            return std::string();
        std::string bytes(object->size(), '\0');
        object->read(0, &bytes[0], bytes.size());
        return bytes;
    }
    TempDir m_dir;
    TestService m_service;
    RestRoutes m_rest;
    std::shared_ptr<CDbConnection> m_db;
    std::shared_ptr<CFilesDbInfo> m_files;
    std::shared_ptr<CChannelsDbInfo> m_channels;
    std::shared_ptr<ITransferBufferManager> m_buffers;
    TestEngine m_engine;
    TestOwner m_owner{&m_engine};
    std::vector<std::shared_ptr<ITransferChannel>> m_started;
    // Last, so it is destroyed first: its workers are joined before what their tasks call goes.
    std::shared_ptr<CTrasfersAsyncTasksExecutor> m_executor =
        std::make_shared<CTrasfersAsyncTasksExecutor>(2, "fv-ul-task-");
};

} // namespace

TEST_F(UploadFileTest, SinglePartSendsTheFileInOnePutCheckedByItsDigest)
{
    Watchdog watchdog("a single-part upload");
    const std::string content = writeLocal("a.bin", kSingleSize);
    auto file = create("F1", "a.bin", kSingleSize);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->needsInitialization());
    ASSERT_EQ(dt_success, prepare(*file));
    EXPECT_TRUE(m_engine.wakeUps.waitForCount(1));

    const auto details = rest("F1", "/upload");
    ASSERT_EQ(1u, details.size());
    EXPECT_EQ(base64Md5(content), parseJson(details[0].body)["md5Digest"].asString());
    EXPECT_TRUE(rest("F1", "/upload/multipart/initialize").empty());
    ASSERT_EQ(1u, channelRows().size());
    EXPECT_EQ(kSingleSize, channelRows()[0].BytesToUpload);
    EXPECT_GT(channelRows()[0].UrlExpires, 0);
    const CFilesDbInfo::FileInfo row = fileRow("F1");
    EXPECT_EQ(static_cast<std::int64_t>(kSingleSize), row.FileSize);
    EXPECT_EQ(static_cast<std::int64_t>(mtimeMs("a.bin") / 1000), row.LastModified);

    const TestOwner::End end = run(*file);
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, end.state);
    EXPECT_EQ(content, stored("F1"));
    EXPECT_EQ(1u, putCount());
    EXPECT_TRUE(fileRow("F1").Completed);
    EXPECT_EQ(static_cast<std::int64_t>(kSingleSize), m_owner.sent.load());
}

TEST_F(UploadFileTest, PreparationNeverBlocksTheEngineAndWakesItWhenDone)
{
    Watchdog watchdog("a held preparation");
    writeLocal("a.bin", kSingleSize);
    AnswerGate gate;
    auto file = createHeldAt("/upload", gate, "FP", "a.bin", kSingleSize);
    ASSERT_TRUE(file);
    EXPECT_EQ(IUploadFile::kNotReady, file->prepareUpload());
    EXPECT_TRUE(file->needsInitialization());
    EXPECT_TRUE(channelsOf(*file).empty());
    EXPECT_EQ(0u, m_engine.wakeUps.values().size());
    gate.open();
    EXPECT_TRUE(m_engine.wakeUps.waitForCount(1, 20000));
    EXPECT_EQ(dt_success, file->prepareUpload());
    EXPECT_FALSE(file->needsInitialization());
    EXPECT_EQ(1u, channelsOf(*file).size());
}

TEST_F(UploadFileTest, ChannelErrorFailsTheFileWithTheCodeOfItsCause)
{
    struct Case {
        std::string name;
        Fault fault;
        std::int32_t errorCode;
    };
    const Case cases[] = {
        {"the storage answers another digest", Fault::wrongEtag(), 4},
        {"the storage refuses every URL", Fault::statusCode(403), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog("channel error: " + c.name);
        m_service.faults().clear();
        m_service.faults().add({"PUT", "/storage/*", 1, 0, c.fault});
        const std::string id = "E-" + std::to_string(c.errorCode);
        writeLocal(id, kSingleSize);
        const std::size_t endsBefore = m_owner.ends.values().size();
        auto file = create(id, id, kSingleSize);
        ASSERT_EQ(dt_success, prepare(*file));
        const TestOwner::End end = run(*file, endsBefore);
        EXPECT_EQ(CTransferManagerBase::FILE_ERRORED, end.state);
        EXPECT_EQ(c.errorCode, end.errorCode);
        EXPECT_FALSE(end.reinit);
        EXPECT_FALSE(fileRow(id).Completed);
        file->releaseResources();
    }
}

TEST_F(UploadFileTest, FailedFileRunsAgainWithOnlyItsUnsentParts)
{
    Watchdog watchdog("a failed part sent again");
    const std::string content = writeLocal("m.bin", kMultipartSize);
    m_service.faults().add(
        FaultRule{"PUT", "/storage/*", 1, 0, Fault::statusCode(500)}.whenHeader("x-fv-part-number", "2"));
    auto file = create("FR", "m.bin", kMultipartSize);
    ASSERT_EQ(dt_success, prepare(*file));
    const TestOwner::End end = run(*file);
    EXPECT_EQ(CTransferManagerBase::FILE_ERRORED, end.state);
    // The other parts go on to their end.
    ASSERT_TRUE(fv_test::waitUntil(
        [&] {
            std::size_t sent = 0;
            for (const auto& row : channelRows())
                sent += row.State == ITransferChannel::stateCompleted ? 1 : 0;
            return sent == 2;
        },
        20000));
    for (const auto& channel : m_started)
        channel->stop();

    m_service.faults().clear();
    file->resetErroredFlag();
    ASSERT_EQ(dt_success, prepare(*file));
    const auto again = channelsOf(*file);
    ASSERT_EQ(1u, again.size());
    EXPECT_EQ(kMinMultipart, again[0]->getOffset());
    const TestOwner::End second = run(*file, 1);
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, second.state);
    EXPECT_EQ(content, stored("FR"));
    EXPECT_EQ(1u, rest("FR", "/upload/multipart/initialize").size());
}

TEST_F(UploadFileTest, MultipartStoresItsWholePlanBeforeTheFirstPutAndCompletesOnce)
{
    Watchdog watchdog("a three-part upload");
    m_owner.verify = true;
    const std::string content = writeLocal("m.bin", kMultipartSize);
    std::atomic<int> rowsAtFirstPut{-1};
    std::string idAtFirstPut;
    std::mutex idMutex;
    m_service.faults().add({"PUT", "/storage/*", 1, 1, Fault::mutateResponse([&](fv_test::ServiceResponse&) {
                                std::vector<ChannelRow> rows;
                                m_channels->selectAll(rows);
                                rowsAtFirstPut = static_cast<int>(rows.size());
                                std::lock_guard<std::mutex> guard(idMutex);
                                idAtFirstPut = fileRow("F2").UploadId;
                            })});
    auto file = create("F2", "m.bin", kMultipartSize);
    ASSERT_TRUE(file);
    ASSERT_EQ(dt_success, prepare(*file));
    ASSERT_EQ(3u, channelsOf(*file).size());

    const auto initialize = rest("F2", "/upload/multipart/initialize");
    ASSERT_EQ(1u, initialize.size());
    const Json::Value body = parseJson(initialize[0].body);
    EXPECT_EQ(md5Hex(content), body["md5Digest"].asString());
    ASSERT_EQ(3u, body["parts"].size());
    EXPECT_EQ(md5Hex(content.substr(0, kMinMultipart)), body["parts"][0]["md5Digest"].asString());
    EXPECT_EQ(md5Hex(content.substr(2 * kMinMultipart)), body["parts"][2]["md5Digest"].asString());
    EXPECT_EQ(128 * KiB, body["parts"][2]["size"].asUInt64());

    const TestOwner::End end = run(*file);
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, end.state);
    EXPECT_EQ(3, rowsAtFirstPut.load());
    {
        std::lock_guard<std::mutex> guard(idMutex);
        EXPECT_FALSE(idAtFirstPut.empty());
        EXPECT_EQ(idAtFirstPut, m_rest.multipartSessions().begin()->first);
    }
    EXPECT_EQ(1u, rest("F2", "/upload/multipart/complete").size());
    EXPECT_EQ(3u, putCount());
    EXPECT_EQ(md5Hex(content), md5Hex(stored("F2")));
    EXPECT_TRUE(fileRow("F2").Completed);
}

TEST_F(UploadFileTest, MultipartPlanThatCannotBeStoredAbandonsTheUploadWithoutAPut)
{
    Watchdog watchdog("a plan not stored");
    writeLocal("m.bin", kMultipartSize);
    AnswerGate gate;
    auto file = createHeldAt("/upload/multipart/initialize", gate, "F2", "m.bin", kMultipartSize);
    ASSERT_TRUE(file);
    // The file's row goes while the upload is being opened: the plan has nowhere to be stored.
    ASSERT_TRUE(m_files->removeByFileUid("F2"));
    gate.open();
    EXPECT_EQ(dt_rest_client_error, prepare(*file));
    EXPECT_TRUE(channelsOf(*file).empty());
    EXPECT_TRUE(channelRows().empty());
    EXPECT_EQ(0u, putCount());
    EXPECT_EQ(1u, abortedUploadIds("F2").size());
    EXPECT_TRUE(m_rest.multipartSessions().empty());
}

TEST_F(UploadFileTest, RestoredFileResumesOnlyWhatItsDiskAndPlanStillVouchFor)
{
    struct Case {
        std::string name;
        // Changes the disk, the stored row or channels after part 1 was sent.
        std::function<void(UploadFileTest&, CFilesDbInfo::FileInfo&, std::vector<ChannelRow>&)> change;
        int expectedPrepare;
        std::size_t expectedInitializes; // 1: the stored upload goes on
        bool oldUploadAborted;
        std::size_t expectedChannels;
    };
    const auto appendSameSecond = [](UploadFileTest& t, CFilesDbInfo::FileInfo&, std::vector<ChannelRow>&) {
        const std::uint64_t before = t.mtimeMs("m.bin");
        std::ofstream(t.local("m.bin"), std::ios::app) << "more";
        t.setMtimeMs("m.bin", before);
    };
    const Case cases[] = {
        {"same size, time and tiling", [](UploadFileTest&, CFilesDbInfo::FileInfo&, std::vector<ChannelRow>&) {}, 0, 1,
         false, 2},
        {"size differs within the same second", appendSameSecond, 0, 2, true, 3},
        {"time differs",
         [](UploadFileTest& t, CFilesDbInfo::FileInfo&, std::vector<ChannelRow>&) {
             t.setMtimeMs("m.bin", t.mtimeMs("m.bin") + 10000);
         },
         dt_file_changed, 1, false, 0},
        {"file gone",
         [](UploadFileTest& t, CFilesDbInfo::FileInfo&, std::vector<ChannelRow>&) {
             std::filesystem::remove(t.local("m.bin"));
         },
         dt_local_file_error, 1, false, 0},
        {"a gap in the parts",
         [](UploadFileTest&, CFilesDbInfo::FileInfo&, std::vector<ChannelRow>& rows) { rows.erase(rows.begin() + 1); },
         0, 2, true, 3},
        {"no upload id",
         [](UploadFileTest&, CFilesDbInfo::FileInfo& row, std::vector<ChannelRow>&) { row.UploadId.clear(); }, 0, 2,
         false, 3},
        {"a row of before sizes were stored",
         [](UploadFileTest&, CFilesDbInfo::FileInfo& row, std::vector<ChannelRow>&) {
             row.FileSize = CFilesDbInfo::kUnknownFileSize;
         },
         0, 1, false, 2},
        {"expired URLs open the upload again",
         [](UploadFileTest&, CFilesDbInfo::FileInfo&, std::vector<ChannelRow>& rows) {
             for (ChannelRow& row : rows)
                 row.UrlExpires = 1000;
         },
         0, 2, true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog("restore: " + c.name, std::chrono::seconds(60));
        m_service.log().clear();
        m_channels->removeByFileUid("F3");
        m_files->removeByFileUid("F3");
        writeLocal("m.bin", kMultipartSize);
        std::string firstUploadId;
        {
            // Part 1 is sent, then the process "ends".
            auto first = create("F3", "m.bin", kMultipartSize);
            ASSERT_EQ(dt_success, prepare(*first));
            const auto channels = channelsOf(*first);
            ASSERT_EQ(3u, channels.size());
            channels[0]->setMaxRetries(2);
            channels[0]->start();
            ASSERT_TRUE(fv_test::waitUntil(
                [&] {
                    const auto rows = channelRows();
                    return !rows.empty() && rows[0].State == ITransferChannel::stateCompleted;
                },
                20000));
            channels[0]->stop();
            first->releaseResources();
            firstUploadId = fileRow("F3").UploadId;
        }
        CFilesDbInfo::FileInfo row = fileRow("F3");
        std::vector<ChannelRow> rows = channelRows();
        ASSERT_EQ(3u, rows.size());
        c.change(*this, row, rows);

        auto restored = restore(row, rows);
        ASSERT_TRUE(restored);
        EXPECT_EQ(c.expectedPrepare, prepare(*restored));
        EXPECT_EQ(c.expectedInitializes, rest("F3", "/upload/multipart/initialize").size());
        EXPECT_EQ(c.oldUploadAborted, abortedUploadIds("F3") == std::vector<std::string>{firstUploadId});
        EXPECT_EQ(c.expectedChannels, channelsOf(*restored).size());
        restored->releaseResources();
    }
}

TEST_F(UploadFileTest, ResumedFileSendsOnlyItsUnsentPartsAndAFileOfChangedTimeStartsOverAfterFailing)
{
    Watchdog watchdog("resume and start over", std::chrono::seconds(60));
    const std::string content = writeLocal("m.bin", kMultipartSize);
    {
        auto first = create("F4", "m.bin", kMultipartSize);
        ASSERT_EQ(dt_success, prepare(*first));
        const auto channels = channelsOf(*first);
        channels[1]->setMaxRetries(2);
        channels[1]->start();
        ASSERT_TRUE(fv_test::waitUntil(
            [&] { return channelRows().size() == 3 && channelRows()[1].State == ITransferChannel::stateCompleted; },
            20000));
        channels[1]->stop();
        first->releaseResources();
    }
    auto resumed = restore(fileRow("F4"), channelRows());
    ASSERT_EQ(dt_success, prepare(*resumed));
    const TestOwner::End end = run(*resumed);
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, end.state);
    EXPECT_EQ(3u, putCount());
    EXPECT_EQ(1u, rest("F4", "/upload/multipart/initialize").size());
    EXPECT_EQ(content, stored("F4"));

    // A restored file whose time changed fails first, then starts over when it runs again.
    const std::string second = writeLocal("n.bin", kMultipartSize, 9);
    {
        auto first = create("F5", "n.bin", kMultipartSize);
        ASSERT_EQ(dt_success, prepare(*first));
        first->releaseResources();
    }
    setMtimeMs("n.bin", mtimeMs("n.bin") + 5000);
    std::vector<ChannelRow> rowsOfF5;
    for (const auto& row : channelRows())
        if (row.FileUid == "F5")
            rowsOfF5.push_back(row);
    auto changed = restore(fileRow("F5"), rowsOfF5);
    EXPECT_EQ(dt_file_changed, prepare(*changed));
    changed->resetErroredFlag();
    ASSERT_EQ(dt_success, prepare(*changed));
    EXPECT_EQ(2u, rest("F5", "/upload/multipart/initialize").size());
    EXPECT_EQ(1u, abortedUploadIds("F5").size());
    const TestOwner::End secondEnd = run(*changed, 1);
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, secondEnd.state);
    EXPECT_EQ(second, stored("F5"));
    EXPECT_EQ(static_cast<std::int64_t>(mtimeMs("n.bin") / 1000), fileRow("F5").LastModified);
}

TEST_F(UploadFileTest, RestoredFileWhosePartsWereAllSentOnlyCompletes)
{
    Watchdog watchdog("a restored sent file");
    const std::string content = writeLocal("m.bin", kMultipartSize);
    {
        auto first = create("F6", "m.bin", kMultipartSize);
        ASSERT_EQ(dt_success, prepare(*first));
        start(channelsOf(*first));
        ASSERT_TRUE(m_owner.ends.waitForCount(1, 30000));
        first->releaseResources();
    }
    // The completion never reached the service: the rows say every part was sent.
    const std::size_t completesBefore = rest("F6", "/upload/multipart/complete").size();
    ASSERT_EQ(1u, completesBefore);
    m_service.faults().add(
        {"POST", "/api/v2/bucket/{b}/file/{f}/upload/multipart/complete", 1, 0, rest_faults::jsonError(200, [] {
             Json::Value body;
             body["file"]["id"] = "F6";
             body["file"]["bucketId"] = kBucket;
             return body;
         }())});
    CFilesDbInfo::FileInfo row = fileRow("F6");
    row.Completed = false;
    const std::size_t putsBefore = putCount();
    auto restored = restore(row, channelRows());
    ASSERT_EQ(dt_success, prepare(*restored));
    EXPECT_TRUE(channelsOf(*restored).empty());
    ASSERT_TRUE(m_owner.ends.waitForCount(2));
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, m_owner.ends.values()[1].state);
    EXPECT_EQ(putsBefore, putCount());
    EXPECT_EQ(2u, rest("F6", "/upload/multipart/complete").size());
}

TEST_F(UploadFileTest, FileAppendedWhileUploadingFailsAsChangedForReinitialisation)
{
    Watchdog watchdog("a file changed while it uploads");
    writeLocal("a.bin", kSingleSize);
    m_service.faults().add({"PUT", "/storage/*", 1, 0, Fault::stallRequest(16 * KiB)});
    auto file = create("F7", "a.bin", kSingleSize);
    ASSERT_EQ(dt_success, prepare(*file));
    start(channelsOf(*file));
    ASSERT_TRUE(m_service.log().waitForRequests(2, std::chrono::milliseconds(20000)));
    std::ofstream(m_dir.file("a.bin"), std::ios::app) << "appended";

    ASSERT_TRUE(m_owner.ends.waitForCount(1, 20000));
    const TestOwner::End end = m_owner.ends.values()[0];
    EXPECT_EQ(CTransferManagerBase::FILE_ERRORED, end.state);
    EXPECT_EQ(2, end.errorCode);
    EXPECT_TRUE(end.reinit);
    EXPECT_TRUE(file->needsInitialization());
}

TEST_F(UploadFileTest, FileTheServiceNoLongerTakesAsksForItsDequeueWithoutAnError)
{
    struct Case {
        std::string name;
        std::uint64_t size;
    };
    for (const Case& c : {Case{"single-part", kSingleSize}, Case{"multipart", kMultipartSize}}) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog("file status exception: " + c.name);
        fv_test::LogCapture log;
        const std::string id = "G-" + std::to_string(c.size);
        writeLocal(id, c.size);
        m_rest.addFile(kBucket, id, c.size, "CANCELLED");
        auto file = CUploadFileFactory::create(desc(id, id), &m_owner, kMinMultipart, c.size, environment());
        EXPECT_EQ(dt_file_status_exception, prepare(*file));
        EXPECT_TRUE(fv_test::waitUntil([&] {
            const auto dequeues = m_engine.dequeues.values();
            return std::count(dequeues.begin(), dequeues.end(), std::make_pair(std::int32_t{7}, id)) == 1;
        }));
        EXPECT_EQ(0u, m_owner.ends.values().size());
        EXPECT_EQ(1, log.count("File status exception detected, file be removed from the queue and DB"));
        EXPECT_EQ(0u, putCount());
    }
}

TEST_F(UploadFileTest, CompleteWhoseAnswerWasLostIsRepeatedAndJudgedByTheService)
{
    Json::Value done;
    done["file"]["id"] = "F8";
    done["file"]["bucketId"] = kBucket;
    struct Case {
        std::string name;
        std::vector<FaultRule> faults;
        std::int32_t state;
        std::int32_t errorCode;
    };
    const std::string complete = "/api/v2/bucket/{b}/file/{f}/upload/multipart/complete";
    const Case cases[] = {
        {"the repeat is answered done",
         {{"POST", complete, 1, 1, Fault::closeMidBody()}, {"POST", complete, 2, 1, rest_faults::jsonError(200, done)}},
         CTransferManagerBase::FILE_COMPLETED,
         0},
        {"the repeat finds the upload closed and the file completed",
         {{"POST", complete, 1, 1, Fault::closeMidBody()}},
         CTransferManagerBase::FILE_COMPLETED,
         0},
        {"the repeat finds no upload for a file still open",
         {{"POST", complete, 1, 1, Fault::statusCode(500)},
          {"POST", complete, 2, 1, rest_faults::jsonError(404, Json::Value(Json::objectValue))}},
         CTransferManagerBase::FILE_ERRORED,
         5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog("complete: " + c.name);
        m_service.faults().clear();
        m_service.log().clear();
        m_channels->removeByFileUid("F8");
        m_files->removeByFileUid("F8");
        for (const FaultRule& rule : c.faults)
            m_service.faults().add(rule);
        writeLocal("m.bin", kMultipartSize);
        const std::size_t endsBefore = m_owner.ends.values().size();
        auto file = create("F8", "m.bin", kMultipartSize);
        ASSERT_EQ(dt_success, prepare(*file));
        const TestOwner::End end = run(*file, endsBefore);
        EXPECT_EQ(c.state, end.state);
        EXPECT_EQ(c.errorCode, end.errorCode);
        EXPECT_EQ(2u, rest("F8", "/upload/multipart/complete").size());
        EXPECT_EQ(c.state == CTransferManagerBase::FILE_COMPLETED, fileRow("F8").Completed);
        file->releaseResources();
    }
}

TEST_F(UploadFileTest, ExpiredUrlIsRefreshedBeforeThePut)
{
    Watchdog watchdog("an expired URL");
    const std::string content = writeLocal("a.bin", kSingleSize);
    m_rest.setUrlValidity(std::chrono::seconds(0));
    auto file = create("F9", "a.bin", kSingleSize);
    ASSERT_EQ(dt_success, prepare(*file));
    m_rest.setUrlValidity(std::chrono::seconds(RestRoutes::kUrlValiditySeconds));

    const TestOwner::End end = run(*file);
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, end.state);
    EXPECT_EQ(2u, rest("F9", "/upload").size());
    EXPECT_EQ(1u, putCount());
    EXPECT_EQ(content, stored("F9"));
    ASSERT_EQ(1u, channelRows().size());
    EXPECT_GT(channelRows()[0].UrlExpires, static_cast<std::int64_t>(std::time(nullptr)));
}

TEST_F(UploadFileTest, CancelledFileAbandonsItsUploadAtTheService)
{
    Watchdog watchdog("cancel");
    writeLocal("a.bin", kSingleSize);
    writeLocal("m.bin", kMultipartSize);
    auto single = create("FA", "a.bin", kSingleSize);
    auto multi = create("FB", "m.bin", kMultipartSize);
    ASSERT_EQ(dt_success, prepare(*single));
    ASSERT_EQ(dt_success, prepare(*multi));
    const std::string uploadId = fileRow("FB").UploadId;
    single->cancel();
    multi->cancel();
    EXPECT_EQ(dt_interrupted, single->prepareUpload());
    ASSERT_TRUE(
        fv_test::waitUntil([&] { return !abortedUploadIds("FB").empty() && !rest("FA", "/status").empty(); }, 20000));
    EXPECT_EQ(std::vector<std::string>{uploadId}, abortedUploadIds("FB"));
    EXPECT_EQ("CANCELLED", parseJson(rest("FA", "/status")[0].body)["status"].asString());
    EXPECT_EQ(0u, putCount());
}

TEST_F(UploadFileTest, RefusedPartUrlOpensTheMultipartUploadAgainAndEveryPartIsSentAgain)
{
    Watchdog watchdog("a refused part URL");
    const std::string content = writeLocal("m.bin", kMultipartSize);
    m_service.faults().add(
        FaultRule{"PUT", "/storage/*", 1, 1, Fault::statusCode(403)}.whenHeader("x-fv-part-number", "2"));
    auto file = create("FF", "m.bin", kMultipartSize);
    ASSERT_EQ(dt_success, prepare(*file));
    const std::string firstUpload = fileRow("FF").UploadId;
    // The URL is not expired by its stored time: only the refusal says it is no longer good.
    const TestOwner::End end = run(*file);
    // Not an error: the file asks to run again, from new channels.
    EXPECT_EQ(TestOwner::kRestarted, end.state);
    for (const auto& channel : m_started)
        channel->stop();
    ASSERT_TRUE(fv_test::waitUntil([&] { return !abortedUploadIds("FF").empty(); }, 20000));
    EXPECT_EQ(std::vector<std::string>{firstUpload}, abortedUploadIds("FF"));
    EXPECT_NE(firstUpload, fileRow("FF").UploadId);

    ASSERT_EQ(dt_success, prepare(*file));
    EXPECT_EQ(3u, channelsOf(*file).size());
    const TestOwner::End second = run(*file, 1);
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, second.state);
    EXPECT_TRUE(content == stored("FF"));
    EXPECT_EQ(2u, rest("FF", "/upload/multipart/initialize").size());
}
