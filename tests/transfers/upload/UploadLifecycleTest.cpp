#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TransportTest.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "support/service/ServiceModel.h"
#include "transfers/upload/UploadFaultFixture.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace fv_test;

namespace {

Json::Value parsedBody(const LoggedRequest& request)
{
    Json::Value body;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream text(request.body);
    EXPECT_TRUE(Json::parseFromStream(builder, text, &body, &errors)) << errors;
    return body;
}

void appendTo(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::app);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

class UploadLifecycleTest : public UploadFaultFixture {};

TEST_F(UploadLifecycleTest, SinglePartFileGoesUpWithItsDigestAndIsStoredAsItIs)
{
    Watchdog watchdog("single part", std::chrono::seconds(110));
    std::mutex etagMutex;
    std::vector<std::string> etags;
    m_service.faults().add({"PUT", "/storage/*", 1, 0, Fault::mutateResponse([&](ServiceResponse& response) {
                                std::lock_guard<std::mutex> guard(etagMutex);
                                etags.push_back(response.headers.get("ETag"));
                            })});
    const int id = startMarkedGroup({localFile("S1", 3 * MiB, 5)});
    ASSERT_GE(id, 0);
    ASSERT_NO_FATAL_FAILURE(expectCompletedClean(id, {"S1"}));

    const std::string content = localContent("S1");
    const Poco::DigestEngine::Digest digest = md5Digest(content);
    const auto details = m_service.log().forPath(uploadPath("S1"), "POST");
    ASSERT_EQ(1u, details.size());
    EXPECT_EQ(base64(std::string(digest.begin(), digest.end())), parsedBody(details[0])["md5Digest"].asString());
    const auto sent = puts();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(content.size(), sent[0].bodyBytes);
    std::lock_guard<std::mutex> guard(etagMutex);
    EXPECT_EQ(std::vector<std::string>{"\"" + md5Hex(content) + "\""}, etags);
}

TEST_F(UploadLifecycleTest, FileAppendedWhileUploadingFailsAsChangedAndStartsOverWhenResumed)
{
    Watchdog watchdog("appended file", std::chrono::seconds(110));
    // The answers of the first PUTs trickle, so the append lands while they are under way.
    m_service.faults().add({"PUT", "/storage/*", 1, 2, Fault::trickle(1, 100)});
    const int id = startMarkedGroup({localFile("A1", 8 * MiB, 6)});
    ASSERT_GE(id, 0);
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto sent = puts();
            return std::count_if(sent.begin(), sent.end(),
                                 [](const LoggedRequest& r) { return r.bodyBytes == 4 * MiB; }) == 2;
        },
        kWaitMs));
    const auto sessions = m_rest.multipartSessions();
    ASSERT_EQ(1u, sessions.size());
    const std::string firstUpload = sessions.begin()->first;
    m_service.faults().clear();

    appendTo(m_files.file("A1.bin"), patternedBytes(1 * MiB, 9));
    // On a loaded machine a trickled answer may fail the parts first (code 4) and the group's
    // automatic resume sends them again; the change itself must still read as a change.
    ASSERT_TRUE(waitUntil([&] { return hasErrorCode("A1", 2); }, kWaitMs));
    m_manager->resumeGroup(id);
    ASSERT_NO_FATAL_FAILURE(expectCompletedClean(id, {"A1"}));

    EXPECT_EQ(9 * MiB, localContent("A1").size());
    EXPECT_EQ(2u, restCalls("A1", "initialize"));
    EXPECT_EQ(std::set<std::string>{firstUpload}, m_rest.abortedUploads());
    std::string secondUpload;
    for (const auto& session : m_rest.multipartSessions()) {
        if (session.first != firstUpload)
            secondUpload = session.first;
    }
    ASSERT_FALSE(secondUpload.empty());
    // Every part of the new plan went to the new upload, none of them cut short.
    std::set<std::string> partsSent;
    for (const LoggedRequest& request : puts(partsPrefix(secondUpload))) {
        if (request.bodyBytes > 0)
            partsSent.insert(request.path);
    }
    EXPECT_EQ(3u, partsSent.size());
}

TEST_F(UploadLifecycleTest, FileTheServiceStopsTakingLeavesWithoutAnErrorAndTheGroupCompletes)
{
    Watchdog watchdog("file-status exception", std::chrono::seconds(110));
    auto refused = localFile("X1", 64 * KiB, 7);
    auto kept = localFile("K1", 5 * MiB, 8);
    m_service.model().withState([](ServiceState& state) { state.files["X1"].status = "CANCELLED"; });
    const int id = startMarkedGroup({refused, kept});
    ASSERT_GE(id, 0);
    ASSERT_NO_FATAL_FAILURE(expectCompletedClean(id, {"K1"}));

    EXPECT_EQ(0u, m_events.fileEventsIn("X1", CTransferManagerBase::FILE_ERRORED));
    EXPECT_EQ(0u, m_events.fileEventsIn("X1", CTransferManagerBase::FILE_COMPLETED));
    EXPECT_FALSE(stored("X1").has_value());
    EXPECT_GE(restCalls("X1"), 1u);
    EXPECT_TRUE(puts("/storage/" + RestRoutes::fileKey(kBucket, "X1")).empty());
    EXPECT_EQ(1u, m_events.groupEvents(id, CTransferManagerBase::GROUP_COMPLETED));
}

TEST_F(UploadLifecycleTest, RestoredGroupOfABucketThatNoLongerTakesUploadsIsPausedAtStartup)
{
    Watchdog watchdog("paused at start-up", std::chrono::seconds(110));
    makeManager();
    const int id = createGroup();
    ASSERT_GE(id, 0);
    queue(id, {localFile("P1", 64 * KiB, 10)});
    m_manager->markQueue(id);
    // Never started: the group and its file wait in the database.
    m_manager.reset();
    ASSERT_EQ(1, rows("GroupsDictionary"));
    ASSERT_EQ(1, rows("FilesDictionary"));

    m_rest.addBucket(kBucket, kToken, "EDITING", false, nowSeconds());
    const int restored = restartAndFindGroup();
    ASSERT_GE(restored, 0);
    ASSERT_TRUE(waitUntil(
        [&] {
            const CUploadManager::GroupState state = groupState(restored);
            return state.state == CTransferManagerBase::GROUP_PAUSED && state.paused;
        },
        30000))
        << "state " << groupState(restored).state;
    // A wrongly started upload would reach the storage within this wait.
    EXPECT_FALSE(waitUntil([&] { return !puts().empty(); }, 1500));
    EXPECT_FALSE(stored("P1").has_value());
    EXPECT_FALSE(completed(restored));
    // The file still waits for its group to be resumed.
    EXPECT_EQ(1, rows("FilesDictionary"));
}
