// The exported download manager in a child process (fv-transfer-driver) against the test service
// in this one: the protocol, kills at chosen instants and what a restart on the same folder does.
#include "support/fixtures/DriverProcess.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/ReadOnlyDatabase.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/RestFaults.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace fv_test;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;
constexpr const char* kBucket = "B1";
constexpr const char* kToken = "T1";
constexpr int kGroupTransferring = 1;
constexpr int kGroupErrored = 2;
constexpr int kGroupCompleted = 3;
constexpr int kGroupPaused = 4;
constexpr int kFileErrored = 2;
constexpr int kChannelCompleted = 3;

struct ChannelRow {
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
    int state = 0;
    std::uint64_t written = 0; // the checkpoint
};

// The driver's database, read while the driver writes.
class DriverDatabase {
public:
    explicit DriverDatabase(std::string path) : m_database(std::move(path)) {}

    std::vector<ChannelRow> channels(const std::string& fileId) const
    {
        std::vector<ChannelRow> rows;
        m_database.query("SELECT Offset, BytesToTransfer, State, BytesWritten FROM DownloadChannelsDictionary WHERE "
                         "FileUid='" +
                             fileId + "' ORDER BY Offset",
                         [&](sqlite3_stmt* row) {
                             rows.push_back(ChannelRow{static_cast<std::uint64_t>(sqlite3_column_int64(row, 0)),
                                                       static_cast<std::uint64_t>(sqlite3_column_int64(row, 1)),
                                                       sqlite3_column_int(row, 2),
                                                       static_cast<std::uint64_t>(sqlite3_column_int64(row, 3))});
                         });
        return rows;
    }

    // Rows of every download table; -1 when the database cannot be read.
    std::int64_t allRows() const
    {
        return m_database.countRows(
            {"DownloadGroupsDictionary", "DownloadFilesDictionary", "DownloadChannelsDictionary"});
    }

private:
    ReadOnlyDatabase m_database;
};

std::uint64_t rangeStart(const std::string& range)
{
    // "bytes=<start>-<end>"
    const size_t equals = range.find('=');
    return equals == std::string::npos ? 0 : std::stoull(range.substr(equals + 1));
}

bool isGroupEvent(const Json::Value& line, int state)
{
    return line["event"].asString() == "group" && line["state"].asInt() == state && !line["cancelled"].asBool();
}

DriverProcess::Predicate cancelledGroup(int group)
{
    return [group](const Json::Value& line) {
        return line["event"] == "group" && line["id"].asInt() == group && line["cancelled"].asBool();
    };
}

// What a driver is started with.
struct Settings {
    std::optional<std::uint64_t> fileSizeLimit;
    std::uint32_t maxTransferRetries = 3;
    // Runs that hold a request until the kill use long ones, so that no retry comes first.
    std::uint32_t timeoutMs = 2000;
};

Settings holding()
{
    Settings settings;
    settings.timeoutMs = 60000;
    return settings;
}

class DownloadCrashTest : public ::testing::Test {
protected:
    DownloadCrashTest() : m_rest(m_service), m_database(m_app.path() + "/fv_transfers_v8.db")
    {
        prepareProcessEnvironment();
        m_rest.addBucket(kBucket, kToken);
    }

    // A driver on the test's app folder, ready and configured.
    std::unique_ptr<DriverProcess> startDriver(const Settings& settings = Settings())
    {
        DriverOptions options;
        options.appFolder = m_app.path();
        options.restUrl = m_service.baseUrl();
        options.logDir = m_app.path();
        options.fileSizeLimit = settings.fileSizeLimit;
        auto driver = std::make_unique<DriverProcess>(options);
        EXPECT_FALSE(driver->waitFor([](const Json::Value& line) { return line["event"] == "ready"; }, 60s).isNull());
        Json::Value configure = DriverProcess::command("configure");
        configure["maxConcurrentTransfers"] = 3;
        configure["minMultipartSize"] = Json::UInt64(MiB);
        configure["maxTransferRetries"] = settings.maxTransferRetries;
        for (const char* timeout : {"connectionTimeoutMs", "sendTimeoutMs", "receiveTimeoutMs"})
            configure[timeout] = settings.timeoutMs;
        EXPECT_EQ(0, driver->call(configure)["result"].asInt());
        return driver;
    }

    static int createGroup(DriverProcess& driver, const std::string& folder)
    {
        Json::Value command = DriverProcess::command("createGroup");
        command["bucketId"] = kBucket;
        command["bucketType"] = "DOWNLOAD";
        command["token"] = kToken;
        command["tokenExpires"] = Json::UInt64(0);
        command["downloadPath"] = "file://" + folder;
        command["groupInfo"]["origin"] = "crash test";
        return driver.call(command)["result"].asInt();
    }

    static Json::Value fileEntry(const std::string& id, const std::string& name, std::uint64_t size)
    {
        Json::Value file;
        file["id"] = id;
        file["path"] = name;
        file["size"] = Json::UInt64(size);
        file["modified"] = Json::UInt64(1600000000000ull);
        return file;
    }

    static Json::Value groupCommand(const std::string& name, int group, const std::vector<Json::Value>& files = {})
    {
        Json::Value command = DriverProcess::command(name);
        command["group"] = group;
        if (!files.empty()) {
            command["files"] = Json::Value(Json::arrayValue);
            for (const Json::Value& file : files)
                command["files"].append(file);
        }
        return command;
    }

    // A file stored whole, with its plain MD5 as the digest.
    std::string seed(const std::string& id, std::uint64_t size, unsigned pattern = 3)
    {
        const std::string content = patternedBytes(size, pattern);
        m_service.model().objects().put(RestRoutes::fileKey(kBucket, id), content);
        m_rest.addFile(kBucket, id, size);
        return content;
    }

    // Creates a group of the files, queues them and starts the manager; the group's id.
    int startGroup(DriverProcess& driver, const std::vector<Json::Value>& files)
    {
        const int group = createGroup(driver, m_dest.path());
        EXPECT_GE(group, 0);
        EXPECT_FALSE(driver.call(groupCommand("queue", group, files)).isNull());
        EXPECT_FALSE(driver.call(DriverProcess::command("startup")).isNull());
        return group;
    }

    std::string storagePathOf(const std::string& id) const
    {
        return m_service.storagePath(RestRoutes::fileKey(kBucket, id));
    }
    std::vector<LoggedRequest> storageGets(const std::string& id)
    {
        std::vector<LoggedRequest> gets;
        for (const LoggedRequest& request : m_service.log().forPath(storagePathOf(id)))
            if (request.method == "GET")
                gets.push_back(request);
        return gets;
    }

    bool anyTemp() const
    {
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(m_dest.path(), error);
        for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            if (it->path().extension() == ".dl")
                return true;
        return false;
    }

    // Ends the driver through its input and expects a clean exit.
    static void finish(DriverProcess& driver)
    {
        driver.closeInput();
        EXPECT_EQ(std::optional<int>(0), driver.waitExit(60s));
    }
    static void killAndReap(DriverProcess& driver)
    {
        driver.kill9();
        EXPECT_EQ(std::optional<int>(-SIGKILL), driver.waitExit(30s));
    }

    TempDir m_app;
    TempDir m_dest;
    TestService m_service;
    RestRoutes m_rest;
    DriverDatabase m_database;
};

TEST_F(DownloadCrashTest, DriverCreatesQueuesDequeuesPausesResumesCancelsAndReports)
{
    Watchdog watchdog("driver protocol", 110s);
    const std::string kept = seed("A", 2 * MiB, 4);
    seed("B", MiB, 5);
    seed("C", 256 * KiB, 6);
    // Slow enough that the commands meet a running transfer.
    m_service.faults().add(FaultRule{"GET", "/storage/*", 1, 0, Fault::trickle(16 * KiB, 20)});
    auto driver = startDriver();

    const int group = createGroup(*driver, m_dest.path());
    ASSERT_GE(group, 0);
    Json::Value state = driver->call(groupCommand("state", group));
    EXPECT_EQ(0, state["result"].asInt());
    EXPECT_EQ(kBucket, state["group"]["bucketId"].asString());
    EXPECT_EQ("DOWNLOAD", state["group"]["bucketType"].asString());
    EXPECT_EQ("crash test", state["groupInfo"]["origin"].asString());
    EXPECT_EQ(1, driver->call(groupCommand("state", group + 1000))["result"].asInt());

    driver->call(groupCommand("queue", group, {fileEntry("A", "a.bin", 2 * MiB), fileEntry("B", "b.bin", MiB)}));
    driver->call(DriverProcess::command("startup"));
    ASSERT_FALSE(
        driver->waitFor([&](const Json::Value& l) { return isGroupEvent(l, kGroupTransferring); }, 30s).isNull());
    driver->call(groupCommand("dequeue", group, {fileEntry("B", "", 0)}));
    driver->call(groupCommand("pause", group));
    ASSERT_FALSE(driver->waitFor([&](const Json::Value& l) { return isGroupEvent(l, kGroupPaused); }, 30s).isNull());
    EXPECT_TRUE(driver->call(groupCommand("state", group))["group"]["paused"].asBool());

    m_service.faults().clear();
    driver->call(groupCommand("resume", group));
    ASSERT_FALSE(driver->waitFor([&](const Json::Value& l) { return isGroupEvent(l, kGroupCompleted); }, 60s).isNull());
    EXPECT_TRUE(kept == readFile(m_dest.file("a.bin")));
    EXPECT_FALSE(std::filesystem::exists(m_dest.file("b.bin")));
    EXPECT_FALSE(driver->linesWhere(DriverProcess::event("file")).empty());

    // A second group, held at its first byte, then cancelled.
    m_service.faults().add(FaultRule{"GET", storagePathOf("C"), 1, 0, Fault::stall()});
    const int second = createGroup(*driver, m_dest.path());
    ASSERT_GE(second, 0);
    driver->call(groupCommand("queue", second, {fileEntry("C", "c.bin", 256 * KiB)}));
    ASSERT_TRUE(waitUntil([&] { return !storageGets("C").empty(); }, 30000));
    driver->call(groupCommand("cancel", second));
    ASSERT_FALSE(driver->waitFor(cancelledGroup(second), 30s).isNull());
    EXPECT_TRUE(waitUntil([&] { return !anyTemp(); }, 30000));
    const Json::Value all = driver->call(DriverProcess::command("state"));
    EXPECT_EQ(all["count"].asUInt(), all["groups"].size());

    EXPECT_EQ("unknown command", driver->call(DriverProcess::command("fly"))["error"].asString());
    finish(*driver);
    for (const Json::Value& line : driver->lines())
        EXPECT_FALSE(line.isMember("unparsed")) << line["unparsed"].asString();
}

// Ranges finished before the kill are never fetched again; the others continue from their stored
// checkpoints, and the file arrives whole, once.
TEST_F(DownloadCrashTest, KillDuringAManifestDownloadRefetchesOnlyWhatWasNotStored)
{
    Watchdog watchdog("manifest kill", 115s);
    const std::uint64_t part = 8 * MiB;
    const std::string content = patternedBytes(4 * part, 9);
    m_rest.addMultipartFile(kBucket, "M", content, MultipartLayout{RestRoutes::evenParts(4 * part, part), true, {}});
    m_service.faults().add(FaultRule{"GET", storagePathOf("M"), 1, 0, Fault::trickle(65536, 100)}.whenHeader(
        "Range", "bytes=" + std::to_string(part) + "-"));

    auto first = startDriver();
    startGroup(*first, {fileEntry("M", "m.bin", content.size())});
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto rows = m_database.channels("M");
            const bool firstDone = !rows.empty() && rows.front().state == kChannelCompleted;
            const auto gets = storageGets("M");
            const bool secondInFlight = std::any_of(gets.begin(), gets.end(), [&](const LoggedRequest& r) {
                return rangeStart(r.headers.get("Range")) == part && r.finishedAt == 0;
            });
            return firstDone && secondInFlight;
        },
        90000));
    killAndReap(*first);
    EXPECT_LE(m_service.log().maxInFlight("/storage/", "GET"), 3u);

    const std::vector<ChannelRow> stored = m_database.channels("M");
    ASSERT_EQ(4u, stored.size());
    m_service.faults().clear();
    m_service.log().clear();

    auto second = startDriver();
    second->call(DriverProcess::command("startup"));
    ASSERT_FALSE(second->waitFor([&](const Json::Value& l) { return isGroupEvent(l, kGroupCompleted); }, 90s).isNull());
    EXPECT_TRUE(waitUntil([&] { return m_database.allRows() == 0; }, 30000));
    finish(*second);

    const auto gets = storageGets("M");
    for (const ChannelRow& row : stored) {
        SCOPED_TRACE("range at " + std::to_string(row.offset));
        std::vector<std::uint64_t> starts;
        for (const LoggedRequest& get : gets) {
            const std::uint64_t start = rangeStart(get.headers.get("Range"));
            if (start >= row.offset && start < row.offset + row.bytes)
                starts.push_back(start);
        }
        if (row.state == kChannelCompleted) {
            EXPECT_TRUE(starts.empty());
        } else {
            ASSERT_FALSE(starts.empty());
            EXPECT_EQ(row.offset + row.written, starts.front());
        }
    }
    EXPECT_EQ(kChannelCompleted, stored.front().state);
    EXPECT_LE(m_service.log().maxInFlight("/storage/", "GET"), 3u);
    EXPECT_EQ(md5Hex(content), md5Hex(readFile(m_dest.file("m.bin"))));
    EXPECT_FALSE(anyTemp());
    EXPECT_EQ(1u, second->linesWhere([](const Json::Value& l) { return isGroupEvent(l, kGroupCompleted); }).size());
}

// One range past a checkpoint: the restart asks for the rest of it, and the whole file's digest
// still holds (the range digest is rebuilt from the bytes already written).
TEST_F(DownloadCrashTest, SingleChannelResumesAtItsCheckpoint)
{
    Watchdog watchdog("single channel kill", 115s);
    // A trickle of 320 KiB/s keeps the range well short of its end when the 10 s checkpoint is
    // stored, at the same point in every build, however slow the build's own code runs.
    const std::uint64_t size = 16 * MiB;
    const std::string content = seed("S", size, 11);
    m_service.faults().add(FaultRule{"GET", storagePathOf("S"), 1, 1, Fault::trickle(65536, 200)});

    auto first = startDriver();
    startGroup(*first, {fileEntry("S", "s.bin", size)});
    std::uint64_t checkpoint = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto rows = m_database.channels("S");
            checkpoint = rows.size() == 1 ? rows.front().written : 0;
            return checkpoint > 0;
        },
        90000));
    killAndReap(*first);
    checkpoint = m_database.channels("S").at(0).written;
    ASSERT_GT(checkpoint, 0u);
    ASSERT_LT(checkpoint, size);
    m_service.log().clear();

    auto second = startDriver();
    second->call(DriverProcess::command("startup"));
    ASSERT_FALSE(second->waitFor([&](const Json::Value& l) { return isGroupEvent(l, kGroupCompleted); }, 90s).isNull());
    finish(*second);

    const auto gets = storageGets("S");
    ASSERT_FALSE(gets.empty());
    EXPECT_EQ("bytes=" + std::to_string(checkpoint) + "-" + std::to_string(size - 1),
              gets.front().headers.get("Range"));
    EXPECT_EQ(md5Hex(content), md5Hex(readFile(m_dest.file("s.bin"))));
    EXPECT_FALSE(anyTemp());
}

// Killed after the plan was stored and before any byte: the restart keeps that plan and starts
// every range at its beginning.
TEST_F(DownloadCrashTest, KillAfterThePlanBeforeAnyByteKeepsThePlan)
{
    Watchdog watchdog("plan kill", 110s);
    const std::string content = patternedBytes(12 * MiB, 12);
    m_rest.addMultipartFile(kBucket, "P", content, MultipartLayout{RestRoutes::evenParts(12 * MiB, 4 * MiB), true, {}});
    m_service.faults().add(FaultRule{"GET", storagePathOf("P"), 1, 0, Fault::stall()});

    auto first = startDriver(holding());
    startGroup(*first, {fileEntry("P", "p.bin", content.size())});
    ASSERT_TRUE(waitUntil([&] { return m_database.channels("P").size() == 3; }, 60000));
    killAndReap(*first);
    const auto plan = m_database.channels("P");
    m_service.faults().clear();
    m_service.log().clear();

    auto second = startDriver();
    second->call(DriverProcess::command("startup"));
    ASSERT_FALSE(second->waitFor([&](const Json::Value& l) { return isGroupEvent(l, kGroupCompleted); }, 90s).isNull());
    finish(*second);

    std::vector<std::uint64_t> starts;
    for (const LoggedRequest& get : storageGets("P"))
        starts.push_back(rangeStart(get.headers.get("Range")));
    std::sort(starts.begin(), starts.end());
    ASSERT_EQ(3u, plan.size());
    std::vector<std::uint64_t> planned;
    for (const ChannelRow& row : plan) {
        EXPECT_EQ(0u, row.written);
        planned.push_back(row.offset);
    }
    EXPECT_EQ(planned, starts);
    EXPECT_EQ(md5Hex(content), md5Hex(readFile(m_dest.file("p.bin"))));
}

// Killed once COMPLETED was reported: a restart asks for nothing and leaves the file alone.
TEST_F(DownloadCrashTest, KillAfterCompletedRequestsNothingOnRestart)
{
    Watchdog watchdog("completed kill", 110s);
    const std::string content = seed("D", 4 * MiB, 13);
    auto first = startDriver();
    const int group = startGroup(*first, {fileEntry("D", "d.bin", content.size())});
    ASSERT_FALSE(first->waitFor([&](const Json::Value& l) { return isGroupEvent(l, kGroupCompleted); }, 60s).isNull());
    killAndReap(*first);
    const auto written = std::filesystem::last_write_time(m_dest.file("d.bin"));
    m_service.log().clear();

    auto second = startDriver();
    second->call(DriverProcess::command("startup"));
    const Json::Value state = second->call(groupCommand("state", group));
    finish(*second);

    EXPECT_NE(0, state["result"].asInt()); // the completed group was not restored
    EXPECT_TRUE(storageGets("D").empty());
    EXPECT_TRUE(second
                    ->linesWhere([](const Json::Value& l) {
                        return l["state"].asInt() == kGroupErrored && l["event"] == "group";
                    })
                    .empty());
    EXPECT_TRUE(content == readFile(m_dest.file("d.bin")));
    EXPECT_EQ(written, std::filesystem::last_write_time(m_dest.file("d.bin")));
    EXPECT_FALSE(anyTemp());
    EXPECT_EQ(0, m_database.allRows());
}

// A restored group whose bucket expired meanwhile is cancelled at start-up, never completed; a
// bucket check that fails leaves the group as it was.
TEST_F(DownloadCrashTest, StartupCancelsAGroupWhoseBucketExpired)
{
    Watchdog watchdog("expired bucket", 110s);
    seed("E", 4 * MiB, 14);
    m_service.faults().add(FaultRule{"GET", storagePathOf("E"), 1, 0, Fault::stall()});
    auto first = startDriver(holding());
    const int group = startGroup(*first, {fileEntry("E", "e.bin", 4 * MiB)});
    ASSERT_TRUE(waitUntil([&] { return !storageGets("E").empty() && !m_database.channels("E").empty(); }, 60000));
    killAndReap(*first);
    m_service.faults().clear();
    m_service.model().withState([](ServiceState& state) { state.buckets[kBucket].status = "EXPIRED"; });

    auto second = startDriver();
    second->call(DriverProcess::command("startup"));
    ASSERT_FALSE(second->waitFor(cancelledGroup(group), 60s).isNull());
    EXPECT_TRUE(waitUntil([&] { return !anyTemp() && m_database.allRows() == 0; }, 30000));
    finish(*second);
    EXPECT_TRUE(second
                    ->linesWhere([](const Json::Value& l) {
                        return l["event"] == "group" && l["state"].asInt() == kGroupCompleted;
                    })
                    .empty());
    EXPECT_FALSE(std::filesystem::exists(m_dest.file("e.bin")));
}

TEST_F(DownloadCrashTest, StartupLeavesTheGroupAloneWhenTheBucketCheckFails)
{
    for (const int status : {401, 429}) {
        SCOPED_TRACE(status);
        Watchdog watchdog("failed bucket check", 55s);
        const std::string id = "F" + std::to_string(status);
        const std::string name = id + ".bin";
        const std::string content = seed(id, 4 * MiB, static_cast<unsigned>(status));
        m_service.faults().add(FaultRule{"GET", storagePathOf(id), 1, 0, Fault::stall()});
        auto first = startDriver(holding());
        const int group = startGroup(*first, {fileEntry(id, name, content.size())});
        ASSERT_TRUE(waitUntil([&] { return !storageGets(id).empty() && !m_database.channels(id).empty(); }, 30000));
        killAndReap(*first);
        m_service.faults().clear();
        Json::Value body;
        body["message"] = "refused";
        m_service.faults().add(
            FaultRule{"GET", "/api/v2/bucket/" + std::string(kBucket), 1, 0, rest_faults::jsonError(status, body)});

        auto second = startDriver();
        second->call(DriverProcess::command("startup"));
        const Json::Value state = second->call(groupCommand("state", group));
        EXPECT_EQ(0, state["result"].asInt());
        EXPECT_FALSE(state["group"]["cancelled"].asBool());
        m_service.faults().clear();
        ASSERT_FALSE(
            second->waitFor([&](const Json::Value& l) { return isGroupEvent(l, kGroupCompleted); }, 40s).isNull());
        finish(*second);
        EXPECT_TRUE(second->linesWhere([](const Json::Value& l) { return l["cancelled"].asBool(); }).empty());
        EXPECT_TRUE(content == readFile(m_dest.file(name)));
    }
}

// Writes past the process's file size limit fail (EFBIG) after the preallocation passed: the file
// ends ERRORED with code 1, and a restart without the limit completes it.
TEST_F(DownloadCrashTest, DiskFullErrorsTheFileAndARestartCompletesIt)
{
    Watchdog watchdog("disk full", 110s);
    const std::string content = seed("Z", 8 * MiB, 15);
    Settings limited;
    limited.fileSizeLimit = 4 * MiB;
    limited.maxTransferRetries = 1;
    auto first = startDriver(limited);
    startGroup(*first, {fileEntry("Z", "z.bin", content.size())});
    const Json::Value errored = first->waitFor(DriverProcess::event("file", kFileErrored), 60s);
    ASSERT_FALSE(errored.isNull());
    EXPECT_EQ(1, errored["errorCode"].asInt());
    finish(*first);

    auto second = startDriver();
    second->call(DriverProcess::command("startup"));
    ASSERT_FALSE(second->waitFor([&](const Json::Value& l) { return isGroupEvent(l, kGroupCompleted); }, 60s).isNull());
    finish(*second);
    EXPECT_TRUE(content == readFile(m_dest.file("z.bin")));
}

} // namespace
