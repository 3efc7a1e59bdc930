#include "FvTransfersInitializer.h"
#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "framework/FileProgressSender.h"
#include "framework/FileProgressSenderHandle.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <json/json.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace fv_transfers;
using fv_test::Fault;
using fv_test::FaultRule;

namespace {

const std::string kBucket = "B1";
const std::string kToken = "bucket-token";
// Recorded before a case's events and due after them: once the service has its update, every
// send queued before it has been made.
const std::string kMarker = "marker";

std::string statusPath(const std::string& fileId)
{
    return "/api/v2/bucket/" + kBucket + "/file/" + fileId + "/status";
}

// The monotonic clock the sender reads, moved by the test.
class ManualClock {
public:
    CFileProgressSender::NowFunction function()
    {
        return [this] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(m_ms.load())); };
    }
    void setSeconds(double seconds) { m_ms = static_cast<std::int64_t>(seconds * 1000); }

private:
    std::atomic<std::int64_t> m_ms{0};
};

struct ProgressSender : ::testing::Test {
    fv_test::TestService service;
    fv_test::RestRoutes rest{service};
    ManualClock clock;

    ProgressSender()
    {
        fv_test::prepareTransportTest();
        CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(service.baseUrl());
        rest.addBucket(kBucket, kToken);
        for (const char* file : {"A", "B", kMarker.c_str()})
            rest.addFile(kBucket, file);
    }

    std::unique_ptr<CFileProgressSender> makeSender(RestTimeouts timeouts = kDefaultRestTimeouts)
    {
        return std::make_unique<CFileProgressSender>(clock.function(), timeouts);
    }

    // The progress of each status update the service received for the file, in order.
    std::vector<std::uint64_t> progressSent(const std::string& fileId)
    {
        std::vector<std::uint64_t> sent;
        for (const fv_test::LoggedRequest& request : service.log().forPath(statusPath(fileId), "POST"))
            sent.push_back(progressOf(request));
        return sent;
    }

    static std::uint64_t progressOf(const fv_test::LoggedRequest& request)
    {
        Json::Value body;
        std::istringstream text(request.body);
        std::string errors;
        EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), text, &body, &errors)) << request.body;
        EXPECT_EQ("UPLOADING", body["status"].asString());
        EXPECT_EQ(kToken, body["token"].asString());
        return body["progress"].asUInt64();
    }

    bool markerArrived()
    {
        return fv_test::waitUntil([&] { return !service.log().forPath(statusPath(kMarker), "POST").empty(); }, 30000);
    }
};

struct Event {
    double atSeconds;
    std::string fileId;
    std::uint64_t progress;
};

} // namespace

// Which events of one or two files the service hears of, with the default interval of 300 s.
TEST_F(ProgressSender, SendsAFilesEventOnceTheIntervalHasPassedSinceItsLastSendOrRecord)
{
    fv_test::Watchdog watchdog("progress intervals", std::chrono::seconds(100));
    struct Case {
        const char* name;
        std::vector<Event> events;
        std::map<std::string, std::vector<std::uint64_t>> sent;
    };
    const std::vector<Case> cases{
        {"whole seconds, truncated",
         {{0, "A", 10}, {100, "A", 20}, {299.9, "A", 30}, {300.2, "A", 40}},
         {{"A", {40}}, {"B", {}}}},
        {"the first event is only recorded", {{0, "A", 10}, {900, "B", 20}}, {{"A", {}}, {"B", {}}}},
        {"interleaved files keep their own times",
         {{0, "A", 1}, {200, "B", 2}, {300, "A", 3}, {400, "B", 4}, {500, "B", 5}, {550, "A", 6}},
         {{"A", {3}}, {"B", {5}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.log().clear();
        clock.setSeconds(0);
        std::shared_ptr<CFileProgressSender> sender = makeSender();
        const CFileProgressSenderHandle handle(sender, kBucket, kToken);
        handle.sendProgress(kMarker, 0);
        for (const Event& event : c.events) {
            clock.setSeconds(event.atSeconds);
            handle.sendProgress(event.fileId, event.progress);
        }
        handle.sendProgress(kMarker, 1);
        ASSERT_TRUE(markerArrived());
        for (const auto& [fileId, expected] : c.sent)
            EXPECT_EQ(expected, progressSent(fileId)) << fileId;
    }
}

TEST_F(ProgressSender, AnIntervalBelowOneSecondMeansTheDefault)
{
    const std::unique_ptr<CFileProgressSender> sender = makeSender();
    sender->setInterval(60);
    EXPECT_EQ(60, sender->interval());
    sender->setInterval(0);
    EXPECT_EQ(CFileProgressSender::kDefaultIntervalSeconds, sender->interval());
}

TEST_F(ProgressSender, AForgottenFileStartsAgainWithARecord)
{
    fv_test::Watchdog watchdog("forgotten file");
    const std::unique_ptr<CFileProgressSender> sender = makeSender();
    sender->sendProgress(kMarker, kBucket, kToken, 0);
    sender->sendProgress("A", kBucket, kToken, 1);
    clock.setSeconds(400);
    sender->forgetFile("A");
    sender->sendProgress("A", kBucket, kToken, 2);
    sender->sendProgress(kMarker, kBucket, kToken, 1);
    ASSERT_TRUE(markerArrived());
    EXPECT_TRUE(progressSent("A").empty());
}

// A stalled update holds neither the caller nor the file's newer values: the caller returns
// before the stalled exchange ends, and the value waiting behind it is replaced, not queued.
TEST_F(ProgressSender, AStalledServiceNeverHoldsTheCallerAndOnlyTheNewestValueWaits)
{
    fv_test::Watchdog watchdog("stalled status route", std::chrono::seconds(100));
    fv_test::LogCapture log;
    service.faults().add(FaultRule{"POST", statusPath("A"), 1, 1, Fault::stall()});
    // The stalled exchange ends by the client's idle time-out.
    const std::unique_ptr<CFileProgressSender> sender = makeSender({5000, 5000, 4000});
    sender->sendProgress(kMarker, kBucket, kToken, 0);
    sender->sendProgress("A", kBucket, kToken, 1);
    clock.setSeconds(300);
    sender->sendProgress("A", kBucket, kToken, 2);
    ASSERT_TRUE(service.log().waitForRequests(1, std::chrono::seconds(30)));

    clock.setSeconds(600);
    sender->sendProgress("A", kBucket, kToken, 3);
    clock.setSeconds(900);
    sender->sendProgress("A", kBucket, kToken, 4);
    sender->sendProgress(kMarker, kBucket, kToken, 1);
    EXPECT_EQ(0, log.count("Error sending progress to server")) << "a call waited for the stalled exchange";

    ASSERT_TRUE(markerArrived());
    // The stalled update (its body never read) and the newest value; 3 never went.
    const std::vector<fv_test::LoggedRequest> sent = service.log().forPath(statusPath("A"), "POST");
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(4u, progressOf(sent[1]));
    EXPECT_EQ(1, log.count("Error sending progress to server (invalid or no response): file id = A"));
}

TEST_F(ProgressSender, StoppingInterruptsAStalledUpdateSilently)
{
    // Well below the 30 s idle time-outs the update runs with.
    fv_test::Watchdog watchdog("stop during a stalled update", std::chrono::seconds(20));
    fv_test::LogCapture log;
    service.faults().add(FaultRule{"POST", statusPath("A"), 1, 1, Fault::stall()});
    const std::unique_ptr<CFileProgressSender> sender = makeSender();
    sender->sendProgress("A", kBucket, kToken, 1);
    clock.setSeconds(300);
    sender->sendProgress("A", kBucket, kToken, 2);
    ASSERT_TRUE(service.log().waitForRequests(1, std::chrono::seconds(30)));
    sender->stop();
    EXPECT_EQ(0, log.count("Error sending progress to server"));
}

TEST_F(ProgressSender, WithTheServiceDownEachDueEventGivesOneErrorLine)
{
    fv_test::Watchdog watchdog("service down", std::chrono::seconds(100));
    fv_test::LogCapture log;
    service.stop();
    const std::unique_ptr<CFileProgressSender> sender = makeSender();
    const std::string line = "Error sending progress to server: file id = A";
    sender->sendProgress("A", kBucket, kToken, 0);
    for (int due = 1; due <= 3; ++due) {
        clock.setSeconds(300.0 * due);
        sender->sendProgress("A", kBucket, kToken, due);
        // Not due: nothing more is sent for it.
        clock.setSeconds(300.0 * due + 10);
        EXPECT_TRUE(fv_test::waitUntil([&] { return log.count(line) >= due; }, 30000)) << due;
        sender->sendProgress("A", kBucket, kToken, due);
    }
    sender->stop();
    EXPECT_EQ(3, log.count(line));
}

TEST(FileProgressSender, TheLibrarysEndStopsAndJoinsTheProcessSender)
{
    fv_test::NoSystemBus noBus;
    fv_test::TempDir dir;
    CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(utf8ToWide(dir.path()));
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    const int before = fv_test::threadsNamed("fv-progress");
    const CFileProgressSenderHandle handle(kBucket, kToken);
    EXPECT_TRUE(handle.hasSender());
    EXPECT_EQ(CFileProgressSender::getInstance(), CFileProgressSender::findInstance());
    EXPECT_EQ(before + 1, fv_test::threadsNamed("fv-progress"));

    CFvTransfersInitializer::unitialize();

    // Joined, not merely asked: the thread is gone once unitialize returns.
    EXPECT_EQ(before, fv_test::threadsNamed("fv-progress"));
    EXPECT_FALSE(CFileProgressSender::findInstance());
    handle.sendProgress("A", 1); // a stopped sender takes events and sends nothing
}
