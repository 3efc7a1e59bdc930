#include "core/config/FvTransfersGlobalConfig.h"
#include "db/DbConnection.h"
#include "support/fixtures/DatabaseLock.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "transfers/upload/UploadFaultFixture.h"

#include <Poco/Data/Session.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

// One way the storage misbehaves on a PUT, and how the upload must end.
struct FaultCase {
    std::string name;
    std::uint64_t size;         // parts of 4 MiB above 4 MiB, one PUT up to it
    std::optional<Fault> fault; // on the first PUT, or on every one with `every`
    bool every = false;
    std::int32_t errorCode = 0;   // 0: the file completes
    std::size_t minPuts = 0;      // PUTs the service must have seen
    std::size_t detailsCalls = 0; // upload details asked, when not 0
    std::uint64_t rateCap = 0;    // the service reads and writes each connection this fast
    std::string logLine;          // a line the library must have written
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c)
{
    return out << c.name;
}

// The storage's answer to a PUT whose body it took and stored: 500 all the same.
Fault errorAfterTheBody()
{
    return Fault::mutateResponse([](ServiceResponse& response) {
        response.setBody(500, "internal error", "text/plain");
        response.headers.remove("ETag");
    });
}

// name, size, fault, on every PUT, error code, PUTs at least, details calls, rate cap, log line
const std::vector<FaultCase> kCases = {
    {"ServerErrorAfterTheBody", 6 * MiB, errorAfterTheBody(), false, 0, 3, 0, 0, ""},
    {"ForbiddenPut", 4 * MiB, Fault::statusCode(403, "signature does not match"), false, 0, 2, 2, 0, ""},
    {"ResetAfterRequestBytes", 6 * MiB, Fault::closeMidRequest(1 * MiB), false, 0, 3, 0, 0, ""},
    {"NoInterimAnswer", 4 * MiB, Fault::delay(1500), false, 0, 1, 0, 0,
     "No interim response within 1000 ms, sending the request body"},
    {"NoFinalAnswer", 4 * MiB, Fault::stallRequest(4 * MiB), false, 0, 2, 0, 0, ""},
    {"SlowReader", 8 * MiB, std::nullopt, false, 0, 2, 0, 4 * MiB, ""},
    {"MalformedHead", 6 * MiB, Fault::malformedHead(), false, 0, 3, 0, 0, ""},
    {"WrongEtagEveryTime", 4 * MiB, Fault::wrongEtag(), true, 4, UploadFaultFixture::kRetries, 0, 0, ""},
    {"TruncatedChunkedAnswer", 6 * MiB, Fault::cutChunked(16, {8}, "<Stored>part of the file</Stored>"), false, 0, 3, 0,
     0, ""},
};

} // namespace

class UploadFaultTest : public UploadFaultFixture {
protected:
    void runSql(const std::string& statement)
    {
        ASSERT_TRUE(db().getConnection()->run(
            "change", "test", [&](Poco::Data::Session& session) { session << statement, Poco::Data::Keywords::now; }));
    }
};

class UploadFaultTableTest : public UploadFaultTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UploadFaultTableTest, EndsInARetriedSuccessOrTheRightErrorNeverAHang)
{
    const FaultCase& c = GetParam();
    Watchdog watchdog(c.name, std::chrono::seconds(110));
    std::optional<LogCapture> log;
    if (!c.logLine.empty())
        log.emplace();
    // A rate cap is the whole service's: such a row gets one of its own.
    std::unique_ptr<TestService> capped;
    std::unique_ptr<RestRoutes> cappedRest;
    TestService* service = &m_service;
    if (c.rateCap != 0) {
        TestServiceOptions options;
        options.connectionRateBytesPerSecond = c.rateCap;
        capped = std::make_unique<TestService>(options);
        cappedRest = std::make_unique<RestRoutes>(*capped);
        cappedRest->addBucket(kBucket, kToken, "EDITING", true, nowSeconds());
        fv_transfers::CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(capped->baseUrl());
        service = capped.get();
    }
    if (c.fault)
        service->faults().add({"PUT", "/storage/*", 1, c.every ? 0u : 1u, *c.fault});
    const CUploadManager::FileDesc file = localFile("F1", c.size, 11);
    if (cappedRest)
        cappedRest->addFile(kBucket, "F1", c.size);
    const int id = startMarkedGroup({file});
    ASSERT_GE(id, 0);

    if (c.errorCode != 0) {
        ASSERT_TRUE(waitFileState("F1", CTransferManagerBase::FILE_ERRORED));
        EXPECT_EQ(c.errorCode, firstErrorCode("F1"));
        EXPECT_EQ(0u, m_events.fileEventsIn("F1", CTransferManagerBase::FILE_COMPLETED));
        EXPECT_FALSE(completed(id));
    } else {
        ASSERT_NO_FATAL_FAILURE(expectCompletedClean(id, {"F1"}, service));
        EXPECT_EQ(0u, m_events.fileEventsIn("F1", CTransferManagerBase::FILE_ERRORED));
    }
    EXPECT_GE(putsTo(*service).size(), c.minPuts);
    if (c.detailsCalls != 0) {
        EXPECT_EQ(c.detailsCalls, service->log().forPath(uploadPath("F1"), "POST").size());
    }
    if (!c.logLine.empty()) {
        EXPECT_EQ(1, log->count(c.logLine));
    }
    // The capped service ends with the test: the manager goes first.
    m_manager.reset();
}

INSTANTIATE_TEST_SUITE_P(Storage, UploadFaultTableTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST_F(UploadFaultTest, DatabaseLockedWhileATransferRunsIsWaitedForAndTheUploadCompletes)
{
    Watchdog watchdog("database locked", std::chrono::seconds(110));
    // The answers of the PUTs trickle, so the transfer still runs while the database is held.
    m_service.faults().add({"PUT", "/storage/*", 1, 0, Fault::trickle(4, 100)});
    const int id = startMarkedGroup({localFile("D1", 12 * MiB, 13)});
    ASSERT_GE(id, 0);
    ASSERT_TRUE(waitUntil([&] { return !puts().empty() && puts().front().bodyBytes > 0; }, kWaitMs));
    {
        DatabaseLock lock(db().getConnection()->path(), std::chrono::milliseconds(10000));
        ASSERT_TRUE(lock.held());
        std::this_thread::sleep_for(std::chrono::seconds(3));
        m_service.faults().clear();
    }
    ASSERT_NO_FATAL_FAILURE(expectCompletedClean(id, {"D1"}));
    EXPECT_EQ(0u, m_events.fileEventsIn("D1", CTransferManagerBase::FILE_ERRORED));
    EXPECT_EQ(1u, restCalls("D1", "initialize"));
    EXPECT_EQ(1u, restCalls("D1", "complete"));
    EXPECT_TRUE(m_rest.abortedUploads().empty());
}

TEST_F(UploadFaultTest, PlanThatCannotBeStoredFailsAbortsItsUploadAndCompletesAfterARestart)
{
    Watchdog watchdog("plan refused", std::chrono::seconds(110));
    // Every channel row is refused, so no plan's transaction can commit.
    runSql("CREATE TRIGGER refuse_plans BEFORE INSERT ON ChannelsDictionary "
           "BEGIN SELECT RAISE(ABORT, 'no room for plans'); END");
    const int id = startMarkedGroup({localFile("R1", 6 * MiB, 14)});
    ASSERT_GE(id, 0);
    ASSERT_TRUE(waitFileState("R1", CTransferManagerBase::FILE_ERRORED));
    ASSERT_TRUE(waitUntil([&] { return !m_rest.abortedUploads().empty(); }, 10000));
    EXPECT_GE(restCalls("R1", "initialize"), 1u);
    EXPECT_FALSE(completed(id));
    m_manager.reset();
    EXPECT_TRUE(puts().empty());
    EXPECT_EQ(0, rows("ChannelsDictionary"));

    runSql("DROP TRIGGER refuse_plans");
    const int restored = restartAndFindGroup();
    ASSERT_GE(restored, 0);
    ASSERT_NO_FATAL_FAILURE(expectCompletedClean(restored, {"R1"}));
}
