// The exported upload manager in a child process (fv-transfer-driver) against the test service
// in this one: kills at chosen instants of an upload, and what a second driver on the same app
// folder then sends.
#include "support/fixtures/DriverProcess.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/ReadOnlyDatabase.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

using namespace fv_test;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;
constexpr const char* kBucket = "B1";
constexpr const char* kToken = "T1";
constexpr const char* kUpload = "upload";
constexpr int kGroupCompleted = 3;
constexpr int kFileCompleted = 1;
constexpr int kFileErrored = 2;
constexpr int kChannelCompleted = 3;

std::int64_t nowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One stored part: its rows (one per prescribed header) share the state and the URL's expiry.
struct PartRow {
    int state = 0;
    std::int64_t urlExpires = 0;
};

// The upload tables of the driver's database, read while the driver writes.
class UploadDatabase {
public:
    explicit UploadDatabase(std::string path) : m_database(std::move(path)) {}

    // By offset.
    std::map<std::uint64_t, PartRow> parts(const std::string& fileId) const
    {
        std::map<std::uint64_t, PartRow> rows;
        m_database.query("SELECT LocalOffset, MIN(State), MAX(UrlExpires) FROM ChannelsDictionary WHERE FileUid='" +
                             fileId + "' GROUP BY LocalOffset",
                         [&](sqlite3_stmt* row) {
                             rows[static_cast<std::uint64_t>(sqlite3_column_int64(row, 0))] =
                                 PartRow{sqlite3_column_int(row, 1), sqlite3_column_int64(row, 2)};
                         });
        return rows;
    }
    bool partDone(const std::string& fileId, std::uint64_t offset) const
    {
        const auto rows = parts(fileId);
        const auto found = rows.find(offset);
        return found != rows.end() && found->second.state == kChannelCompleted;
    }
    bool allPartsDone(const std::string& fileId, std::size_t count) const
    {
        const auto rows = parts(fileId);
        return rows.size() == count && std::all_of(rows.begin(), rows.end(), [](const auto& entry) {
                   return entry.second.state == kChannelCompleted;
               });
    }
    std::string uploadId(const std::string& fileId) const
    {
        std::string id;
        m_database.query("SELECT UploadId FROM FilesDictionary WHERE FileUid='" + fileId + "'", [&](sqlite3_stmt* row) {
            if (const unsigned char* text = sqlite3_column_text(row, 0))
                id = reinterpret_cast<const char*>(text);
        });
        return id;
    }
    std::int64_t allRows() const
    {
        return m_database.countRows({"GroupsDictionary", "FilesDictionary", "ChannelsDictionary"});
    }

private:
    ReadOnlyDatabase m_database;
};

// What a driver's upload manager is configured with.
struct Settings {
    std::uint64_t minMultipartSize = 4 * MiB;
    // Runs that hold a request until the kill use long time-outs, so that no retry comes first.
    std::uint32_t timeoutMs = 2000;
};

Settings holding(std::uint64_t minMultipartSize = 4 * MiB)
{
    Settings settings;
    settings.minMultipartSize = minMultipartSize;
    settings.timeoutMs = 60000;
    return settings;
}

class UploadCrashTest : public ::testing::Test {
protected:
    UploadCrashTest() : m_database(m_app.path() + "/fv_transfers_v8.db") { prepareProcessEnvironment(); }
    ~UploadCrashTest() override
    {
        if (HasFailure())
            printLogTails();
    }

    // The library's log and the drivers' transcript (both runs) go with a failure's report.
    void printLogTails() const
    {
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(m_app.path(), error);
        for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->path().extension() != ".log")
                continue;
            const std::string text = readFile(it->path().string());
            std::size_t start = text.size();
            for (std::size_t found = 0; start > 0 && found <= 120; --start)
                found += text[start - 1] == '\n' ? 1 : 0;
            std::cerr << "--- " << it->path().filename().string() << " (last lines) ---\n"
                      << text.substr(start) << "--- end ---\n";
        }
    }

    // Each test starts its service: a rate cap is fixed for the service's life.
    void startService(std::uint64_t connectionRate = 0)
    {
        TestServiceOptions options;
        options.connectionRateBytesPerSecond = connectionRate;
        options.bodyCaptureLimit = 64; // the bytes that matter are checked in the stored object
        m_service = std::make_unique<TestService>(options);
        m_rest = std::make_unique<RestRoutes>(*m_service);
        // A bucket older than a week pauses its upload group at start-up.
        m_rest->addBucket(kBucket, kToken, "EDITING", true, nowSeconds());
    }

    static Json::Value uploadCommand(const std::string& name, std::optional<int> group = std::nullopt)
    {
        Json::Value command = DriverProcess::command(name);
        command["manager"] = kUpload;
        if (group)
            command["group"] = *group;
        return command;
    }

    // A driver on the test's app folder with its upload manager configured and started.
    std::unique_ptr<DriverProcess> startDriver(const Settings& settings = Settings())
    {
        DriverOptions options;
        options.appFolder = m_app.path();
        options.restUrl = m_service->baseUrl();
        options.logDir = m_app.path();
        options.trace = getenv("FV_TRACE") != nullptr;
        auto driver = std::make_unique<DriverProcess>(options);
        EXPECT_FALSE(driver->waitFor([](const Json::Value& line) { return line["event"] == "ready"; }, 60s).isNull());
        Json::Value configure = uploadCommand("config");
        configure["maxConcurrentTransfers"] = 3;
        configure["minMultipartSize"] = Json::UInt64(settings.minMultipartSize);
        configure["maxTransferRetries"] = 3;
        configure["preventSleep"] = false;
        for (const char* timeout : {"connectionTimeoutMs", "sendTimeoutMs", "receiveTimeoutMs"})
            configure[timeout] = settings.timeoutMs;
        EXPECT_EQ(0, driver->call(configure)["result"].asInt());
        EXPECT_FALSE(driver->call(uploadCommand("startup")).isNull());
        return driver;
    }

    // A local file of patterned bytes that the service expects; its content.
    std::string localFile(const std::string& uid, std::uint64_t size, unsigned pattern)
    {
        std::string content = patternedBytes(size, pattern);
        writeFile(m_files.file(uid + ".bin"), content);
        m_rest->addFile(kBucket, uid, size);
        return content;
    }

    // A new group with the file queued; the group's id.
    int startUpload(DriverProcess& driver, const std::string& uid)
    {
        Json::Value create = uploadCommand("create");
        create["bucketId"] = kBucket;
        create["bucketType"] = "UPLOAD";
        create["token"] = kToken;
        create["expires"] = Json::UInt64(0);
        const int group = driver.call(create)["result"].asInt();
        EXPECT_GE(group, 0);
        Json::Value queue = uploadCommand("queue", group);
        Json::Value file;
        file["uid"] = uid;
        file["url"] = "file://" + m_files.file(uid + ".bin");
        queue["files"].append(file);
        EXPECT_FALSE(driver.call(queue).isNull());
        return group;
    }

    // The restored group, marked, completes and leaves no rows behind.
    void completeRestored(DriverProcess& driver, int group)
    {
        EXPECT_EQ(0, driver.call(uploadCommand("state", group))["result"].asInt());
        driver.call(uploadCommand("mark", group));
        ASSERT_FALSE(driver.waitFor(DriverProcess::event("group", kGroupCompleted, kUpload), 90s).isNull());
        EXPECT_TRUE(waitUntil([&] { return m_database.allRows() == 0; }, 30000)) << m_database.allRows();
    }

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

    static std::size_t fileEvents(const DriverProcess& driver, const std::string& uid, int state)
    {
        return driver
            .linesWhere([&](const Json::Value& line) {
                return DriverProcess::event("file", state, kUpload)(line) && line["fileId"] == uid;
            })
            .size();
    }
    static std::size_t fileCompletions(const DriverProcess& driver, const std::string& uid)
    {
        return fileEvents(driver, uid, kFileCompleted);
    }

    std::string partPath(const std::string& uploadId, std::uint32_t number) const
    {
        return m_service->storagePath(RestRoutes::partKey(uploadId, number));
    }
    std::string wholePath(const std::string& uid) const
    {
        return m_service->storagePath(RestRoutes::fileKey(kBucket, uid));
    }
    static std::string restPath(const std::string& uid, const std::string& action)
    {
        return "/api/v2/bucket/" + std::string(kBucket) + "/file/" + uid + "/upload/multipart/" + action;
    }
    // Requests of `method` on paths that start with `prefix`, of the log's entries [from, to).
    std::vector<LoggedRequest> requests(const std::string& method, const std::string& prefix, std::size_t from = 0,
                                        std::size_t to = std::string::npos)
    {
        std::vector<LoggedRequest> found;
        const std::vector<LoggedRequest> all = m_service->log().all();
        for (std::size_t i = from; i < all.size() && i < to; ++i)
            if (all[i].method == method && all[i].path.rfind(prefix, 0) == 0)
                found.push_back(all[i]);
        return found;
    }
    std::size_t countOf(const std::string& method, const std::string& path, std::size_t from = 0)
    {
        std::size_t count = 0;
        for (const LoggedRequest& request : requests(method, path, from))
            count += request.path == path ? 1 : 0;
        return count;
    }
    // The most of the requests that were open at one time (the log's gauge, for one driver's
    // requests: those a killed driver left open end only when the service notices).
    static std::size_t mostInFlight(const std::vector<LoggedRequest>& requests)
    {
        std::vector<std::pair<std::uint64_t, int>> events;
        for (const LoggedRequest& request : requests) {
            events.emplace_back(request.openedAt, 1);
            events.emplace_back(request.finishedAt == 0 ? UINT64_MAX : request.finishedAt, -1);
        }
        std::sort(events.begin(), events.end());
        std::size_t open = 0;
        std::size_t most = 0;
        for (const auto& event : events) {
            open = event.second > 0 ? open + 1 : open - 1;
            most = std::max(most, open);
        }
        return most;
    }
    std::string storedMd5(const std::string& uid) const
    {
        const std::optional<std::string> stored =
            m_service->model().objects().contents(RestRoutes::fileKey(kBucket, uid));
        return stored ? md5Hex(*stored) : std::string("(nothing stored)");
    }

    TempDir m_app;
    TempDir m_files;
    UploadDatabase m_database;
    std::unique_ptr<TestService> m_service;
    std::unique_ptr<RestRoutes> m_rest;
};

// Parts stored as sent before the kill are never sent again; the others are, once each, to the
// same upload, which is completed once.
TEST_F(UploadCrashTest, KillInTheMiddleOfAFourPartUploadSendsOnlyTheUnsentParts)
{
    Watchdog watchdog("four part kill", 115s);
    startService();
    const std::uint64_t part = 8 * MiB;
    const std::string content = localFile("M", 4 * part, 21);
    // Part 2's first PUT is stored but answered 500; part 3's first is cut in the middle of its body.
    m_service->faults().add(
        FaultRule{"PUT", "/storage/parts/{uploadId}/2", 1, 1, Fault::mutateResponse([](ServiceResponse& response) {
                      response.status = 500;
                      response.body = "injected fault";
                  })});
    m_service->faults().add(FaultRule{"PUT", "/storage/parts/{uploadId}/3", 1, 1, Fault::closeMidRequest(part / 2)});
    Settings settings;
    settings.minMultipartSize = part;
    // Both faults end their request at once; a loaded machine's service may take seconds to
    // store a part, which must not count as a third fault.
    settings.timeoutMs = 20000;

    auto first = startDriver(settings);
    const int group = startUpload(*first, "M");
    ASSERT_TRUE(waitUntil([&] { return m_database.partDone("M", 0); }, 90000));
    killAndReap(*first);
    const auto stored = m_database.parts("M");
    const std::string uploadId = m_database.uploadId("M");
    ASSERT_EQ(4u, stored.size());
    ASSERT_FALSE(uploadId.empty());
    const std::size_t restart = m_service->log().size();
    m_service->faults().clear();

    auto second = startDriver(settings);
    completeRestored(*second, group);
    finish(*second);

    for (const auto& [offset, row] : stored) {
        const auto number = static_cast<std::uint32_t>(offset / part + 1);
        SCOPED_TRACE("part " + std::to_string(number));
        EXPECT_EQ(row.state == kChannelCompleted ? 0u : 1u, countOf("PUT", partPath(uploadId, number), restart));
    }
    EXPECT_EQ(kChannelCompleted, stored.at(0).state);
    EXPECT_EQ(requests("PUT", "/storage/", restart).size(),
              requests("PUT", "/storage/parts/" + uploadId + "/", restart).size());
    EXPECT_EQ(1u, countOf("POST", restPath("M", "initialize")));
    EXPECT_EQ(1u, countOf("POST", restPath("M", "complete")));
    EXPECT_LE(mostInFlight(requests("PUT", "/storage/", 0, restart)), 3u);
    EXPECT_LE(mostInFlight(requests("PUT", "/storage/", restart)), 3u);
    EXPECT_EQ(md5Hex(content), storedMd5("M"));
    EXPECT_EQ(1u, fileCompletions(*first, "M") + fileCompletions(*second, "M"));
    EXPECT_EQ(1u, second->linesWhere(DriverProcess::event("group", kGroupCompleted, kUpload)).size());
}

// What the restart finds of the part URLs it stored.
enum class StoredUrls {
    expired, // past the expiry the service gave with them
    refused, // unexpired by that time, but the service refuses them
};

void PrintTo(StoredUrls urls, std::ostream* out)
{
    *out << (urls == StoredUrls::expired ? "expired" : "refused");
}

class UploadUrlRestartTest : public UploadCrashTest, public ::testing::WithParamInterface<StoredUrls> {};

// The restart opens the upload again before any PUT (the old one aborted, its parts lost with
// it) and sends every part with the new URLs.
TEST_P(UploadUrlRestartTest, StaleStoredUrlsAreRefreshedOnce)
{
    const bool expired = GetParam() == StoredUrls::expired;
    Watchdog watchdog("stale urls", 115s);
    startService();
    if (expired)
        m_rest->setUrlValidity(3s);
    const std::uint64_t part = 4 * MiB;
    const std::string content = localFile("U", 2 * part, 22);
    // Part 2 is held, so that the kill finds part 1 alone sent.
    m_service->faults().add(FaultRule{"PUT", "/storage/parts/{uploadId}/2", 1, 1, Fault::stall()});

    auto first = startDriver(holding(part));
    const int group = startUpload(*first, "U");
    ASSERT_TRUE(waitUntil([&] { return m_database.partDone("U", 0); }, 60000));
    killAndReap(*first);
    const std::string oldId = m_database.uploadId("U");
    ASSERT_FALSE(oldId.empty());
    std::int64_t expiry = 0;
    for (const auto& entry : m_database.parts("U"))
        expiry = std::max(expiry, entry.second.urlExpires);
    m_service->faults().clear();
    if (expired)
        ASSERT_TRUE(waitUntil([&] { return nowSeconds() > expiry; }, 30000));
    else
        m_service->faults().add(FaultRule{"PUT", "/storage/parts/" + oldId + "/*", 1, 0, Fault::statusCode(403)});
    const std::size_t restart = m_service->log().size();

    auto second = startDriver();
    completeRestored(*second, group);
    finish(*second);

    const auto puts = requests("PUT", "/storage/", restart);
    if (expired) {
        // Refreshed before its PUTs: none went to the old upload.
        EXPECT_TRUE(requests("PUT", "/storage/parts/" + oldId + "/", restart).empty());
    }
    EXPECT_EQ(2u, countOf("POST", restPath("U", "initialize")));
    EXPECT_EQ(1u, m_rest->abortedUploads().count(oldId));
    EXPECT_EQ(1u, countOf("POST", restPath("U", "initialize"), restart));
    std::set<std::string> fresh;
    for (const LoggedRequest& put : puts)
        if (put.path.rfind("/storage/parts/" + oldId + "/", 0) != 0)
            fresh.insert(put.path);
    EXPECT_EQ(2u, fresh.size()); // both parts, the one sent before the kill included
    EXPECT_EQ(md5Hex(content), storedMd5("U"));
    EXPECT_EQ(1u, fileCompletions(*first, "U") + fileCompletions(*second, "U"));
    // Opening the upload again is no failure of the file.
    EXPECT_EQ(0u, fileEvents(*second, "U", kFileErrored));
}

INSTANTIATE_TEST_SUITE_P(Restart, UploadUrlRestartTest, ::testing::Values(StoredUrls::expired, StoredUrls::refused),
                         [](const ::testing::TestParamInfo<StoredUrls>& info) {
                             return info.param == StoredUrls::expired ? "Expired" : "Refused";
                         });

// When the first driver is killed.
enum class KillWhen {
    uploadIdStored, // the plan is stored with the upload's id
    completeSent,   // every part is stored as sent and the complete reached the service
    objectStored,   // the service joined the parts
    bodyHalfRead,   // the service read half of the single PUT's body
};

struct KillInstant {
    const char* name;
    std::uint64_t size;
    std::uint64_t connectionRate; // the service's cap per connection; 0: none
    std::string faultMethod;      // empty: no fault
    std::string faultPath;        // "complete", or a storage path pattern
    Fault fault;
    unsigned faultTimes;
    // Of both runs; the first run's are long when it holds a request until the kill.
    std::uint32_t timeoutMs;
    KillWhen when;
    // In the second run: PUTs per part (or of the single part), and completes.
    std::size_t putsPerPart;
    std::size_t completes;
};

std::vector<KillInstant> killInstants()
{
    // A capped service reads what the socket buffers took seconds after the last byte was sent:
    // the single part's answer may come that late.
    return {
        {"PlanStoredNoPutYet", 12 * MiB, 0, "PUT", "/storage/*", Fault::stall(), 0, 60000, KillWhen::uploadIdStored, 1,
         1},
        {"CompleteInFlight", 12 * MiB, 0, "POST", "complete", Fault::stall(), 1, 60000, KillWhen::completeSent, 0, 1},
        {"CompleteAppliedAnswerLost", 12 * MiB, 0, "POST", "complete", Fault::closeMidHead(0), 0, 2000,
         KillWhen::objectStored, 0, 1},
        {"SinglePartMidBody", 3 * MiB, MiB, "", "", Fault(), 0, 20000, KillWhen::bodyHalfRead, 1, 0},
    };
}

void PrintTo(const KillInstant& instant, std::ostream* out)
{
    *out << instant.name;
}

class UploadKillInstantTest : public UploadCrashTest, public ::testing::WithParamInterface<KillInstant> {};

// A restart keeps the stored upload and sends again exactly what the service may lack: the
// parts not stored as sent, the PUT that was cut (whole), the complete whose answer never came.
TEST_P(UploadKillInstantTest, RestartSendsOnlyWhatTheServiceMayLack)
{
    const KillInstant& instant = GetParam();
    Watchdog watchdog(instant.name, 115s);
    startService(instant.connectionRate);
    const std::uint64_t part = 4 * MiB;
    const std::size_t parts = static_cast<std::size_t>((instant.size + part - 1) / part);
    const bool multipart = instant.size > part;
    const std::string content = localFile("K", instant.size, 23);
    if (!instant.faultMethod.empty())
        m_service->faults().add(FaultRule{
            instant.faultMethod, instant.faultPath == "complete" ? restPath("K", "complete") : instant.faultPath, 1,
            instant.faultTimes, instant.fault});

    Settings settings;
    settings.timeoutMs = instant.timeoutMs;
    auto first = startDriver(settings);
    const int group = startUpload(*first, "K");
    const auto killInstantCame = [&] {
        switch (instant.when) {
        case KillWhen::uploadIdStored: return !m_database.uploadId("K").empty();
        case KillWhen::completeSent:
            return countOf("POST", restPath("K", "complete")) > 0 && m_database.allPartsDone("K", parts);
        case KillWhen::objectStored: return storedMd5("K") == md5Hex(content);
        case KillWhen::bodyHalfRead: return m_service->log().waitForBodyBytes(wholePath("K"), instant.size / 2, 10ms);
        }
        return false;
    };
    ASSERT_TRUE(waitUntil(killInstantCame, 60000));
    killAndReap(*first);
    const std::string uploadId = m_database.uploadId("K");
    EXPECT_EQ(multipart, !uploadId.empty());
    const std::size_t restart = m_service->log().size();
    m_service->faults().clear();

    settings.timeoutMs = std::min<std::uint32_t>(instant.timeoutMs, 20000);
    auto second = startDriver(settings);
    completeRestored(*second, group);
    finish(*second);

    if (multipart) {
        for (std::uint32_t number = 1; number <= parts; ++number) {
            SCOPED_TRACE("part " + std::to_string(number));
            EXPECT_EQ(instant.putsPerPart, countOf("PUT", partPath(uploadId, number), restart));
        }
        EXPECT_EQ(parts * instant.putsPerPart, requests("PUT", "/storage/", restart).size());
        EXPECT_EQ(1u, countOf("POST", restPath("K", "initialize")));
        EXPECT_EQ(instant.completes, countOf("POST", restPath("K", "complete"), restart));
    } else {
        const auto puts = requests("PUT", "/storage/", restart);
        ASSERT_EQ(instant.putsPerPart, puts.size());
        EXPECT_EQ(wholePath("K"), puts.front().path);
        EXPECT_EQ(instant.size, puts.front().bodyBytes);
    }
    EXPECT_EQ(md5Hex(content), storedMd5("K"));
    EXPECT_EQ(1u, fileCompletions(*first, "K") + fileCompletions(*second, "K"));
}

INSTANTIATE_TEST_SUITE_P(Kill, UploadKillInstantTest, ::testing::ValuesIn(killInstants()),
                         [](const ::testing::TestParamInfo<KillInstant>& info) { return info.param.name; });

} // namespace
