#include "core/base/DtError.h"
#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/files/TargetFileSystem.h"
#include "db/DbConnection.h"
#include "db/DownloadChannelsDbInfo.h"
#include "db/DownloadFilesDbInfo.h"
#include "download/DownloadEngineCallback.h"
#include "download/DownloadFile.h"
#include "download/DownloadFileOwner.h"
#include "download/DownloadPlan.h"
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

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
using ChannelRow = CDownloadChannelsDbInfo::ChannelInfo;

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;
constexpr const char* kBucket = "B1";
constexpr const char* kToken = "T1";
constexpr std::uint64_t kModified = 1600000000000ull;

// The platform's file system with every step journaled (and the file's channel rows counted
// at that moment), and preallocation failing on demand.
class JournalingFileSystem : public ITargetFileSystem {
public:
    explicit JournalingFileSystem(std::shared_ptr<CDownloadChannelsDbInfo> rows) : m_rows(std::move(rows)) {}

    int createFolders(const std::string& folder) override
    {
        return note("createFolders", m_real->createFolders(folder));
    }
    int createTempFile(const std::string& finalPath, std::string& tempPath) override
    {
        return note("createTempFile", m_real->createTempFile(finalPath, tempPath));
    }
    int preallocate(const std::string& path, std::uint64_t size) override
    {
        return note("preallocate", preallocateError ? preallocateError : m_real->preallocate(path, size));
    }
    int rename(const std::string& from, const std::string& to) override
    {
        return note("rename", m_real->rename(from, to));
    }
    int syncFolder(const std::string& folder) override { return note("syncFolder", m_real->syncFolder(folder)); }
    int setModificationTime(const std::string& path, std::uint64_t ms) override
    {
        return note("setModificationTime", m_real->setModificationTime(path, ms));
    }
    int removeFile(const std::string& path) override { return m_real->removeFile(path); }
    TargetFileStatus status(const std::string& path) override { return m_real->status(path); }

    // "step:rows" in order.
    std::vector<std::string> journal()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_journal;
    }
    std::vector<std::string> steps()
    {
        std::vector<std::string> result;
        for (const std::string& entry : journal())
            result.push_back(entry.substr(0, entry.find(':')));
        return result;
    }

    int preallocateError = 0;

private:
    int note(const std::string& step, int result)
    {
        std::vector<ChannelRow> rows;
        m_rows->selectAll(rows);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_journal.push_back(step + ":" + std::to_string(rows.size()));
        return result;
    }

    std::unique_ptr<ITargetFileSystem> m_real = createTargetFileSystem();
    std::shared_ptr<CDownloadChannelsDbInfo> m_rows;
    std::mutex m_mutex;
    std::vector<std::string> m_journal;
};

// Holds the service's answers in a route until opened (or until its deadline, so a failed test
// never leaves a service thread waiting).
class AnswerGate {
public:
    Fault fault()
    {
        return Fault::mutateResponse([this](fv_test::ServiceResponse&) {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_held;
            m_changed.notify_all();
            m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_open; });
        });
    }
    bool waitHeld(int timeoutMs = 20000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_held > 0; });
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
    int m_held = 0;
    bool m_open = false;
};

class TestEngine : public IDownloadEngineCallback {
public:
    void resumeGroup(std::int32_t, bool) override {}
    bool hasChannelsOfFile(const ITransferFile*) const override { return false; }
    void cancelFiles(const FileList&) override {}
    void pauseFiles(const FileList&) override {}
    void resumeFiles(const FileList&) override {}
    void addFileChannels(const std::shared_ptr<CDownloadFile>&) override {}
    void initFiles(const std::shared_ptr<CDownloadGroup>&, const std::vector<FileDownloadDetails>&) override {}
    void wakeUp() override { wakeUps.record(1); }
    std::shared_ptr<ITransferBufferManager> getBufferManager() override { return buffers; }

    EventRecorder<int> wakeUps;
    std::shared_ptr<ITransferBufferManager> buffers; // set before any file is made
};

class TestOwner : public IDownloadFileOwner {
public:
    explicit TestOwner(IDownloadEngineCallback* engine) : m_engine(engine) {}
    std::int32_t getGroupId() const override { return 7; }
    void getBucketId(std::string& bucketId) const override { bucketId = kBucket; }
    void getBucketToken(std::string& token) const override { token = kToken; }
    bool isCancelled() override { return false; }
    IDownloadEngineCallback* getDownloadEngine() override { return m_engine; }
    void notifyFileStateChanged(const FileDownloadDetails&, std::int64_t, const FileState& snapshot,
                                bool discard) override
    {
        if (snapshot.state != CTransferManagerBase::FILE_TRANSFERRING)
            ends->record({snapshot.state, snapshot.errorCode, discard});
    }

    struct End {
        std::int32_t state;
        std::int32_t errorCode;
        bool discard;
    };
    // Replaced only between runs, when no channel can raise an event.
    void resetEnds() { ends = std::make_unique<EventRecorder<End>>(); }
    std::unique_ptr<EventRecorder<End>> ends = std::make_unique<EventRecorder<End>>();

private:
    IDownloadEngineCallback* m_engine;
};

class DownloadFileTest : public ::testing::Test {
protected:
    DownloadFileTest() : m_rest(m_service)
    {
        fv_test::prepareTransportTest();
        CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(m_service.baseUrl());
        m_rest.addBucket(kBucket, kToken);
        std::string error;
        m_db = CDbConnection::open(m_dir.file("transfers.db"), 5, error);
        m_files = std::make_shared<CDownloadFilesDbInfo>(m_db);
        m_channels = std::make_shared<CDownloadChannelsDbInfo>(m_db);
        m_fs = std::make_shared<JournalingFileSystem>(m_channels);
        m_buffers = createTransferBufferManager(0);
        m_buffers->init(16 * MiB);
        m_engine.buffers = m_buffers;
        m_folder = m_dir.file("dest");
        std::filesystem::create_directories(m_folder);
    }

    // An object on the service under file id `id`.
    std::string seed(const std::string& id, std::uint64_t size, unsigned pattern = 3)
    {
        const std::string content = fv_test::patternedBytes(size, pattern);
        m_service.model().objects().put(RestRoutes::fileKey(kBucket, id), content);
        m_rest.addFile(kBucket, id, size);
        return content;
    }
    FileDownloadDetails details(const std::string& id, const std::wstring& path, std::uint64_t size,
                                const std::string& md5 = "")
    {
        FileDownloadDetails result;
        result.id = id;
        result.path = path;
        result.size = size;
        result.modified = kModified;
        result.md5Digest = md5;
        return result;
    }
    std::shared_ptr<CDownloadFile> makeFile(std::uint64_t partSize = 0)
    {
        DownloadFileEnvironment environment;
        environment.files = m_files;
        environment.channels = m_channels;
        environment.fileSystem = m_fs;
        environment.channelSeams.firstBackOff = std::chrono::milliseconds(1);
        environment.channelSeams.maxBackOff = std::chrono::milliseconds(2);
        return std::make_shared<CDownloadFile>(m_executor, partSize, nullptr, environment);
    }
    // prepareForTransfer until it has an answer.
    int prepare(CDownloadFile& file)
    {
        int result = CDownloadFile::kNotReady;
        fv_test::waitUntil([&] { return (result = file.prepareForTransfer()) != CDownloadFile::kNotReady; }, 20000);
        return result;
    }
    // Runs the file's channels as the engine would and waits for the file's end.
    TestOwner::End run(CDownloadFile& file)
    {
        std::vector<std::shared_ptr<ITransferChannel>> channels;
        file.getChannels(channels);
        for (const auto& channel : channels) {
            channel->setMaxRetries(2);
            channel->start();
        }
        if (!m_owner.ends->waitForCount(1, 30000))
            return {-1, -1, false};
        for (const auto& channel : channels)
            channel->stop();
        return m_owner.ends->values().front();
    }
    std::vector<std::string> storageRanges(const std::string& id)
    {
        std::vector<std::string> ranges;
        for (const auto& request : m_service.log().forPath(m_service.storagePath(RestRoutes::fileKey(kBucket, id))))
            ranges.push_back(request.headers.get("Range"));
        return ranges;
    }
    std::size_t detailsRequests(const std::string& id)
    {
        return m_service.log().forPath("/api/v2/bucket/" + std::string(kBucket) + "/file/" + id + "/download").size();
    }
    std::vector<ChannelRow> channelRows()
    {
        std::vector<ChannelRow> rows;
        m_channels->selectAll(rows);
        return rows;
    }
    std::vector<CDownloadFilesDbInfo::FileInfo> fileRows()
    {
        std::vector<CDownloadFilesDbInfo::FileInfo> rows;
        m_files->selectAll(rows);
        return rows;
    }
    std::vector<std::string> folderEntries(const std::string& folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::uint64_t mtimeMs(const std::string& path) { return createTargetFileSystem()->status(path).modifiedMs; }
    void setMtime(const std::string& path, std::uint64_t ms)
    {
        createTargetFileSystem()->setModificationTime(path, ms);
    }

    TempDir m_dir;
    TestService m_service;
    RestRoutes m_rest;
    std::shared_ptr<CDbConnection> m_db;
    std::shared_ptr<CDownloadFilesDbInfo> m_files;
    std::shared_ptr<CDownloadChannelsDbInfo> m_channels;
    std::shared_ptr<JournalingFileSystem> m_fs;
    std::shared_ptr<ITransferBufferManager> m_buffers;
    TestEngine m_engine;
    TestOwner m_owner{&m_engine};
    std::string m_folder;
    // Last, so it is destroyed first: its workers are joined before what their tasks call goes.
    std::shared_ptr<CTrasfersAsyncTasksExecutor> m_executor =
        std::make_shared<CTrasfersAsyncTasksExecutor>(2, "fv-dl-task-");
};

} // namespace

TEST(DownloadPlan, DivisionTilesTheFile)
{
    struct Case {
        std::string name;
        std::uint64_t size;
        std::string md5;
        std::vector<ManifestPart> manifest; // empty: none
        std::uint64_t partSize;
        std::vector<std::uint64_t> expectedSizes; // empty: only the count is checked
        std::size_t expectedCount;
        bool expectChecked;
    };
    const std::vector<Case> cases = {
        {"120 MiB multipart digest", 120 * MiB, "abc-3", {}, 0, {50 * MiB, 50 * MiB, 20 * MiB}, 3, false},
        {"50 MiB no digest", 50 * MiB, "", {}, 0, {50 * MiB}, 1, false},
        {"plain md5 of a large file", 300 * MiB, "0123456789abcdef0123456789abcdef", {}, 0, {300 * MiB}, 1, true},
        {"zero bytes", 0, "", {}, 0, {0}, 1, false},
        {"60 GiB", 60 * 1024 * MiB, "", {}, 0, {}, 1000, false},
        {"tiny parts", 1500, "", {}, 1, {}, 750, false},
        {"manifest 3,1,2",
         12 * MiB,
         "x-3",
         {{3, 2 * MiB, "c"}, {1, 5 * MiB, "a"}, {2, 5 * MiB, "b"}},
         0,
         {5 * MiB, 5 * MiB, 2 * MiB},
         3,
         true},
        {"manifest not adding up",
         13 * MiB,
         "x-3",
         {{3, 2 * MiB, "c"}, {1, 5 * MiB, "a"}, {2, 5 * MiB, "b"}},
         4 * MiB,
         {4 * MiB, 4 * MiB, 4 * MiB, 1 * MiB},
         4,
         false},
    };
    for (const Case& c : cases) {
        DownloadManifest manifest;
        manifest.parts = c.manifest;
        const auto ranges = planDownloadRanges(c.size, c.md5, c.manifest.empty() ? nullptr : &manifest, c.partSize);
        ASSERT_EQ(c.expectedCount, ranges.size()) << c.name;
        EXPECT_TRUE(rangesTile(ranges, c.size)) << c.name;
        std::uint64_t offset = 0;
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            EXPECT_EQ(offset, ranges[i].offset) << c.name << " range " << i;
            if (!c.expectedSizes.empty()) {
                EXPECT_EQ(c.expectedSizes[i], ranges[i].size) << c.name << " range " << i;
            }
            EXPECT_EQ(c.expectChecked, !ranges[i].md5.empty()) << c.name << " range " << i;
            offset += ranges[i].size;
        }
    }
    DownloadManifest manifest;
    manifest.parts = {{3, 2 * MiB, "c"}, {1, 5 * MiB, "a"}, {2, 5 * MiB, "b"}};
    const auto ranges = planDownloadRanges(12 * MiB, "", &manifest, 0);
    EXPECT_EQ("a", ranges[0].md5);
    EXPECT_EQ("b", ranges[1].md5);
    EXPECT_EQ("c", ranges[2].md5);
}

TEST_F(DownloadFileTest, DownloadsIntoMadeFoldersInPlanOrderThenCompletesInDurableOrder)
{
    Watchdog watchdog("a three-range download");
    const std::string content = seed("F1", 300 * KiB);
    // A digest of a multipart upload: the file is cut into parts of the configured size.
    m_service.faults().add(FaultRule{"GET", "/api/v2/*", 1, 10, rest_faults::setMember("file.md5Digest", "abc-3")});
    auto file = makeFile(100 * KiB);
    ASSERT_EQ(dt_success, file->initialize(utf8ToWide(m_folder), details("F1", L"sub/dir/x.bin", 300 * KiB), &m_owner));
    ASSERT_EQ(dt_success, prepare(*file));
    // The engine is woken just after the answer is ready, from the preparing worker.
    EXPECT_TRUE(m_engine.wakeUps.waitForCount(1));

    // The whole plan is stored before any byte is asked for, the temp named in the file's row.
    EXPECT_EQ(3u, channelRows().size());
    EXPECT_TRUE(storageRanges("F1").empty());
    const std::vector<std::string> before = {"createFolders:0", "createTempFile:0", "preallocate:0"};
    EXPECT_EQ(before, m_fs->journal());
    ASSERT_EQ(1u, fileRows().size());
    EXPECT_EQ(file->getTempPath(), wideToUtf8(fileRows()[0].TmpFileName));

    fv_test::LogCapture log;
    const TestOwner::End end = run(*file);
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, end.state) << log.text();
    const std::string finalPath = m_folder + "/sub/dir/x.bin";
    EXPECT_EQ(finalPath, file->getFinalPath());
    EXPECT_EQ(md5Hex(content), md5Hex(fv_test::readFile(finalPath)));
    EXPECT_EQ(kModified, mtimeMs(finalPath));
    EXPECT_EQ(std::vector<std::string>{"x.bin"}, folderEntries(m_folder + "/sub/dir"));
    // Rename, then the folder made durable, then times, and only then the rows go.
    const std::vector<std::string> order = {"createFolders:0", "createTempFile:0", "preallocate:0",
                                            "rename:3",        "syncFolder:3",     "setModificationTime:3"};
    EXPECT_EQ(order, m_fs->journal());
    EXPECT_TRUE(channelRows().empty());
    EXPECT_TRUE(fileRows().empty());
    EXPECT_EQ(3u, storageRanges("F1").size());
    EXPECT_EQ(1u, m_owner.ends->values().size());
}

TEST_F(DownloadFileTest, AFileWithATaskInFlightDoesNotKeepItsExecutorAlive)
{
    auto file = makeFile();
    ASSERT_EQ(dt_success, file->initialize(utf8ToWide(m_folder), details("K1", L"k.bin", 64 * KiB), &m_owner));
    // The queued task holds the file; were the file to hold the executor, neither would end and
    // the workers would outlive their owner.
    std::weak_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor;
    m_executor.reset();
    EXPECT_TRUE(executor.expired());
    std::string url;
    EXPECT_NE(dt_success, file->getDownloadUrl(url, true)); // nothing left to fetch it
}

TEST_F(DownloadFileTest, PathsStayUnderTheFolder)
{
    const std::vector<std::pair<std::wstring, std::string>> cases = {
        {L"../x", "/x"}, {L"/etc/x", "/etc/x"}, {L"a/../../b", "/b"}, {L"sub\\win.txt", "/sub/win.txt"}};
    int n = 0;
    for (const auto& c : cases) {
        const std::string id = "P" + std::to_string(++n);
        auto file = makeFile();
        ASSERT_EQ(dt_success, file->initialize(utf8ToWide(m_folder), details(id, c.first, 0), &m_owner));
        EXPECT_EQ(m_folder + c.second, file->getFinalPath()) << wideToUtf8(c.first);
        file->cancel();
    }
}

TEST_F(DownloadFileTest, LocalFileDecidesBetweenUpToDateAndDownload)
{
    Watchdog watchdog("local state");
    struct Case {
        std::string name;
        std::uint64_t localSize;
        std::int64_t localAgeMs; // positive: older than the service's time
        bool downloaded;
    };
    const std::vector<Case> cases = {
        {"newer, same size", 64 * KiB, -5000, false},
        {"same time, same size", 64 * KiB, 0, false},
        {"newer, other size", 10 * KiB, -5000, true},
        {"older, same size", 64 * KiB, 5000, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string id = "L" + std::to_string(++n);
        const std::string content = seed(id, 64 * KiB, 5);
        const std::string finalPath = m_folder + "/" + id + ".bin";
        const std::string local = fv_test::patternedBytes(c.localSize, 9);
        fv_test::writeFile(finalPath, local);
        setMtime(finalPath, kModified - c.localAgeMs);
        m_owner.resetEnds();

        auto file = makeFile();
        ASSERT_EQ(dt_success,
                  file->initialize(utf8ToWide(m_folder), details(id, utf8ToWide(id + ".bin"), 64 * KiB), &m_owner));
        const int prepared = prepare(*file);
        if (!c.downloaded) {
            EXPECT_EQ(CDownloadFile::kUpToDate, prepared) << c.name;
            EXPECT_EQ(local, fv_test::readFile(finalPath)) << c.name;
            EXPECT_TRUE(storageRanges(id).empty()) << c.name;
            continue;
        }
        ASSERT_EQ(dt_success, prepared) << c.name;
        // The user's file is untouched until the new one is complete.
        EXPECT_EQ(local, fv_test::readFile(finalPath)) << c.name;
        EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, run(*file).state) << c.name;
        EXPECT_EQ(md5Hex(content), md5Hex(fv_test::readFile(finalPath))) << c.name;
        EXPECT_EQ(kModified, mtimeMs(finalPath)) << c.name;
    }
    EXPECT_TRUE(channelRows().empty());
}

TEST_F(DownloadFileTest, AFailedDownloadKeepsTheUsersFile)
{
    Watchdog watchdog("failed download");
    seed("F1", 64 * KiB);
    const std::string finalPath = m_folder + "/x.bin";
    fv_test::writeFile(finalPath, "the user's own bytes");
    setMtime(finalPath, kModified - 60000);
    m_service.faults().add(FaultRule{"GET", "/storage/*", 1, 100, Fault::statusCode(500)});
    auto file = makeFile();
    ASSERT_EQ(dt_success, file->initialize(utf8ToWide(m_folder), details("F1", L"x.bin", 64 * KiB), &m_owner));
    ASSERT_EQ(dt_success, prepare(*file));
    EXPECT_EQ(CTransferManagerBase::FILE_ERRORED, run(*file).state);
    EXPECT_EQ("the user's own bytes", fv_test::readFile(finalPath));
    file->cancel();
    file->release();
    EXPECT_EQ(std::vector<std::string>{"x.bin"}, folderEntries(m_folder));
}

TEST_F(DownloadFileTest, FullDiskAtPreallocationErrorsBeforeAnyByteIsAskedFor)
{
    Watchdog watchdog("full disk");
    seed("F1", 64 * KiB);
    m_fs->preallocateError = ENOSPC;
    auto file = makeFile();
    ASSERT_EQ(dt_success, file->initialize(utf8ToWide(m_folder), details("F1", L"x.bin", 64 * KiB), &m_owner));
    EXPECT_EQ(dt_local_file_error, prepare(*file));
    EXPECT_TRUE(storageRanges("F1").empty());
    EXPECT_TRUE(channelRows().empty());
    EXPECT_TRUE(folderEntries(m_folder).empty());
    std::vector<std::shared_ptr<ITransferChannel>> channels;
    file->getChannels(channels);
    EXPECT_TRUE(channels.empty());

    // Space freed: a resume prepares the file again and it completes.
    m_fs->preallocateError = 0;
    file->resume();
    ASSERT_EQ(dt_success, prepare(*file));
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, run(*file).state);
}

TEST_F(DownloadFileTest, RestoreContinuesFinishesOrRedividesByWhatIsStoredAndOnDisk)
{
    Watchdog watchdog("restores");
    const std::uint64_t size = 300 * KiB;
    const std::uint64_t third = 100 * KiB;
    struct Case {
        std::string name;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges; // offset, size
        std::uint32_t state;
        bool tempComplete; // the temp holds every byte; else an empty temp
        bool finalComplete;
        bool downloads;
    };
    const std::vector<Case> cases = {
        {"rows leave a hole", {{0, third}, {2 * third, third}}, 1, false, false, true},
        {"all done, temp at size", {{0, third}, {third, third}, {2 * third, third}}, 3, true, false, false},
        {"all done, only the final", {{0, third}, {third, third}, {2 * third, third}}, 3, false, true, false},
        {"all done, nothing on disk", {{0, third}, {third, third}, {2 * third, third}}, 3, false, false, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string id = "R" + std::to_string(++n);
        const std::string content = seed(id, size, 11);
        const std::string finalPath = m_folder + "/" + id + ".bin";
        const std::string tempPath = finalPath + ".abcd1234.dl";
        fv_test::writeFile(tempPath, c.tempComplete ? content : "");
        if (!c.tempComplete)
            std::filesystem::remove(tempPath);
        if (c.finalComplete)
            fv_test::writeFile(finalPath, content);
        CDownloadFilesDbInfo::FileInfo row;
        row.details = details(id, utf8ToWide(id + ".bin"), size);
        row.ParentGroupId = 7;
        row.TmpFileName = utf8ToWide(tempPath);
        m_files->insert(row.details, 7, row.TmpFileName);
        std::vector<ChannelRow> stored;
        for (const auto& range : c.ranges)
            stored.push_back({id, range.first, range.second, c.state, md5Hex(content.substr(range.first, range.second)),
                              c.state == 3 ? range.second : 0});
        m_channels->insertPlan(id, stored);
        m_owner.resetEnds();

        auto file = makeFile(third);
        ASSERT_EQ(dt_success, file->restoreFromDb(utf8ToWide(m_folder), row, stored, &m_owner)) << c.name;
        const int prepared = prepare(*file);
        if (c.downloads) {
            ASSERT_EQ(dt_success, prepared) << c.name;
            EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, run(*file).state) << c.name;
            EXPECT_FALSE(storageRanges(id).empty()) << c.name;
        } else {
            EXPECT_EQ(CDownloadFile::kUpToDate, prepared) << c.name;
            EXPECT_TRUE(storageRanges(id).empty()) << c.name;
            EXPECT_EQ(0u, detailsRequests(id)) << c.name;
        }
        EXPECT_EQ(md5Hex(content), md5Hex(fv_test::readFile(finalPath))) << c.name;
        EXPECT_EQ(kModified, mtimeMs(finalPath)) << c.name;
        EXPECT_EQ(std::vector<std::string>{id + ".bin"}, folderEntries(m_folder)) << c.name;
        EXPECT_TRUE(channelRows().empty()) << c.name;
        EXPECT_TRUE(fileRows().empty()) << c.name;
        std::filesystem::remove(finalPath);
    }
}

TEST_F(DownloadFileTest, RestoredEmptyFileWithoutUrlCompletesWithoutAsking)
{
    Watchdog watchdog("empty restored file");
    const std::string tempPath = m_folder + "/e.bin.abcd1234.dl";
    fv_test::writeFile(tempPath, "");
    CDownloadFilesDbInfo::FileInfo row;
    row.details = details("empty1", L"e.bin", 0);
    row.TmpFileName = utf8ToWide(tempPath);
    m_files->insert(row.details, 7, row.TmpFileName);
    const std::vector<ChannelRow> stored = {{"empty1", 0, 0, 1, "", 0}};
    m_channels->insertPlan("empty1", stored);

    auto file = makeFile();
    ASSERT_EQ(dt_success, file->restoreFromDb(utf8ToWide(m_folder), row, stored, &m_owner));
    ASSERT_EQ(dt_success, prepare(*file));
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, run(*file).state);
    EXPECT_EQ(0u, m_service.log().size());
    EXPECT_EQ("", fv_test::readFile(m_folder + "/e.bin"));
    EXPECT_EQ(std::vector<std::string>{"e.bin"}, folderEntries(m_folder));
}

TEST_F(DownloadFileTest, RestoredRangeContinuesAtItsCheckpoint)
{
    Watchdog watchdog("checkpoint");
    const std::uint64_t size = 256 * KiB;
    const std::uint64_t written = 96 * KiB;
    const std::string content = seed("checkpoint1", size, 13);
    const std::string tempPath = m_folder + "/c.bin.abcd1234.dl";
    fv_test::writeFile(tempPath, content.substr(0, written));
    CDownloadFilesDbInfo::FileInfo row;
    row.details = details("checkpoint1", L"c.bin", size, md5Hex(content));
    row.TmpFileName = utf8ToWide(tempPath);
    m_files->insert(row.details, 7, row.TmpFileName);
    const std::vector<ChannelRow> stored = {{"checkpoint1", 0, size, 4, md5Hex(content), written}};
    m_channels->insertPlan("checkpoint1", stored);

    auto file = makeFile();
    ASSERT_EQ(dt_success, file->restoreFromDb(utf8ToWide(m_folder), row, stored, &m_owner));
    EXPECT_EQ(written, file->getBytesDownloaded());
    ASSERT_EQ(dt_success, prepare(*file));
    fv_test::LogCapture log;
    EXPECT_EQ(CTransferManagerBase::FILE_COMPLETED, run(*file).state) << log.text();
    const auto ranges = storageRanges("checkpoint1");
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ("bytes=" + std::to_string(written) + "-" + std::to_string(size - 1), ranges.front()) << log.text();
    EXPECT_EQ(md5Hex(content), md5Hex(fv_test::readFile(m_folder + "/c.bin")));
}

TEST_F(DownloadFileTest, OneUrlRefreshServesEveryChannelThatAsks)
{
    Watchdog watchdog("url refresh");
    seed("U1", 64 * KiB);
    auto file = makeFile();
    ASSERT_EQ(dt_success, file->initialize(utf8ToWide(m_folder), details("U1", L"u.bin", 64 * KiB), &m_owner));
    ASSERT_EQ(dt_success, prepare(*file));
    std::string refused;
    ASSERT_EQ(dt_success, file->getDownloadUrl(refused, false));
    ASSERT_EQ(1u, detailsRequests("U1"));
    // URLs handed out from now on differ from the one in hand.
    m_rest.setUrlValidity(std::chrono::seconds(7200));

    // The refresh is held at the service until every other channel has asked.
    auto gate = std::make_shared<AnswerGate>();
    m_service.faults().add(
        FaultRule{"GET", "/api/v2/bucket/" + std::string(kBucket) + "/file/U1/download", 1, 1, gate->fault()});
    struct Ask {
        bool force;
        std::string url;
        int result = -1;
    };
    std::vector<Ask> asks = {{true, refused}, {true, refused}, {true, ""}, {false, ""}};
    fv_test::LogCapture log;
    std::vector<std::thread> channels;
    channels.emplace_back([&] { asks[0].result = file->getDownloadUrl(asks[0].url, asks[0].force); });
    ASSERT_TRUE(gate->waitHeld());
    for (std::size_t i = 1; i < asks.size(); ++i)
        channels.emplace_back([&, i] { asks[i].result = file->getDownloadUrl(asks[i].url, asks[i].force); });
    const bool allWaiting = fv_test::waitUntil([&] { return log.count("URL update task is in progress") == 3; }, 20000);
    gate->open();
    for (auto& channel : channels)
        channel.join();
    ASSERT_TRUE(allWaiting) << log.text();

    EXPECT_EQ(2u, detailsRequests("U1"));
    const std::string fresh = asks[0].url;
    EXPECT_NE(refused, fresh);
    for (const Ask& ask : asks) {
        EXPECT_EQ(dt_success, ask.result);
        EXPECT_EQ(fresh, ask.url);
    }

    // A channel refused with the old URL after the refresh ended takes the fresh one.
    std::string late = refused;
    EXPECT_EQ(dt_success, file->getDownloadUrl(late, true));
    EXPECT_EQ(fresh, late);
    EXPECT_EQ(2u, detailsRequests("U1"));
    // The fresh one refused in turn is refreshed again.
    std::string again = fresh;
    EXPECT_EQ(dt_success, file->getDownloadUrl(again, true));
    EXPECT_EQ(3u, detailsRequests("U1"));
    file->cancel();
}
