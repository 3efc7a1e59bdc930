#include "core/config/FvTransfersGlobalConfig.h"
#include "framework/BucketGroupStateSynchronizer.h"
#include "framework/TrasfersAsyncTasksExecutor.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/TransportTest.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "support/service/RestFaults.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"
#include "transfers/framework/InertTransferGroup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;
using fv_transfers::CBucketGroupStateSynchronizer;
using fv_transfers::CGroupManagerBase;
using fv_transfers::CTrasfersAsyncTasksExecutor;
using fv_transfers::GroupInitParams;
namespace rest_faults = fv_test::rest_faults;

namespace {

// Counts what the check asks of it.
class CountingGroup : public InertTransferGroup {
public:
    CountingGroup(std::int32_t id, std::string bucketId, std::string token)
        : InertTransferGroup(id, std::move(bucketId)), m_token(std::move(token))
    {
    }
    void pause() override { ++pauses; }
    void cancel() override { ++cancels; }
    void resetFileEntries() override { ++resets; }
    void getBucketToken(std::string& token) const override { token = m_token; }

    std::atomic<int> pauses{0};
    std::atomic<int> cancels{0};
    std::atomic<int> resets{0};

private:
    const std::string m_token;
};

class Groups : public CGroupManagerBase {
public:
    std::shared_ptr<CountingGroup> add(const std::string& bucketId, const std::string& token)
    {
        GroupInitParams params;
        params.bucketId = bucketId;
        params.bucketToken = token;
        params.isNew = true;
        addGroup(params);
        return m_last;
    }

protected:
    GroupPtr configureGroup(const fv_transfers::CGroupsDbInfoBase::GroupInfo&, std::uint64_t, bool) override
    {
        return nullptr;
    }
    GroupPtr createGroup(GroupInitParams& params) override
    {
        m_last = std::make_shared<CountingGroup>(params.groupId, params.bucketId, params.bucketToken);
        return m_last;
    }
    bool collectGroupInfos(fv_transfers::CDbDataLoader&, std::vector<GroupInfoPtr>&) override { return true; }
    bool selectMaxStoredGroupId(std::int32_t& maxGroupId) override
    {
        maxGroupId = -1;
        return true;
    }

private:
    std::shared_ptr<CountingGroup> m_last;
};

std::int64_t nowSeconds()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

} // namespace

class BucketGroupStateSynchronizerTest : public ::testing::Test {
protected:
    BucketGroupStateSynchronizerTest() : m_rest(m_service)
    {
        prepareTransportTest();
        fv_transfers::CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(m_service.baseUrl());
    }
    ~BucketGroupStateSynchronizerTest() override { m_service.stop(); }

    std::shared_ptr<CTrasfersAsyncTasksExecutor> m_executor =
        std::make_shared<CTrasfersAsyncTasksExecutor>(2, "fv-ul-task-");
    TestService m_service;
    RestRoutes m_rest;
    Groups m_groups;
};

// What each answer about a bucket does to a download group and to an upload group.
TEST_F(BucketGroupStateSynchronizerTest, EachAnswerCancelsPausesOrLeavesTheGroup)
{
    Watchdog watchdog("bucket answers", std::chrono::seconds(100));
    struct Case {
        const char* name;
        std::string status;
        bool uploadAllowed;
        std::int64_t ageSeconds;
        std::optional<Fault> fault;
        int downloadCancels, uploadCancels, uploadPauses;
    };
    const std::int64_t hour = 3600, day = 24 * hour;
    const std::vector<Case> cases{
        {"expired", "EXPIRED", true, hour, std::nullopt, 1, 1, 0},
        {"deleted", "DELETED", true, hour, std::nullopt, 1, 1, 0},
        {"404", "EDITING", true, hour, Fault::statusCode(404), 1, 1, 0},
        {"410", "EDITING", true, hour, Fault::statusCode(410), 1, 1, 0},
        {"401", "EDITING", true, hour, rest_faults::jsonError(401, Json::Value()), 0, 0, 0},
        {"403", "EDITING", true, hour, rest_faults::jsonError(403, Json::Value()), 0, 0, 0},
        {"429", "EDITING", true, hour, rest_faults::jsonError(429, Json::Value()), 0, 0, 0},
        {"500", "EDITING", true, hour, Fault::statusCode(500), 0, 0, 0},
        {"malformed", "EDITING", true, hour, rest_faults::malformedJson(), 0, 0, 0},
        {"an hour old", "EDITING", true, hour, std::nullopt, 0, 0, 0},
        {"eight days old", "EDITING", true, 8 * day, std::nullopt, 0, 0, 1},
        {"closed to uploads", "EDITING", false, hour, std::nullopt, 0, 0, 1},
        {"no creation time", "EDITING", true, 8 * day, rest_faults::removeMember("bucket.created"), 0, 0, 0},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bucket = "K" + std::to_string(++index);
        m_rest.addBucket(bucket, "tok", c.status, c.uploadAllowed, nowSeconds() - c.ageSeconds);
        m_service.faults().clear();
        if (c.fault)
            m_service.faults().add(FaultRule{"GET", "/api/v2/bucket/" + bucket, 1, 0, *c.fault});
        for (const bool download : {true, false}) {
            Groups groups;
            const auto group = groups.add(bucket, "tok");
            {
                CBucketGroupStateSynchronizer check(groups, m_executor, download, std::chrono::seconds(30));
                check.initSync();
            }
            EXPECT_EQ(download ? c.downloadCancels : c.uploadCancels, group->cancels.load()) << download;
            EXPECT_EQ(download ? 0 : c.uploadPauses, group->pauses.load()) << download;
            EXPECT_EQ(0, group->resets.load());
        }
    }
}

TEST_F(BucketGroupStateSynchronizerTest, ABucketThatNeverAnswersIsLeftAloneOnceTheBoundHasPassed)
{
    Watchdog watchdog("silent bucket", std::chrono::seconds(60));
    m_rest.addBucket("SILENT", "tok", "EXPIRED");
    m_rest.addBucket("GONE", "tok", "EXPIRED");
    m_service.faults().add(FaultRule{"GET", "/api/v2/bucket/SILENT", 1, 0, Fault::stall()});
    const auto silent = m_groups.add("SILENT", "tok");
    const auto gone = m_groups.add("GONE", "tok");
    LogCapture log;
    CBucketGroupStateSynchronizer check(m_groups, m_executor, true, std::chrono::milliseconds(1000));
    check.initSync();
    EXPECT_EQ(0, silent->cancels.load());
    EXPECT_EQ(1, gone->cancels.load());
    EXPECT_EQ(1, log.count("Failed to update status of bucket with id: SILENT"));
}

TEST_F(BucketGroupStateSynchronizerTest, NoGroupsReturnsAtOnceAndASecondCheckAsksAgain)
{
    LogCapture log;
    {
        CBucketGroupStateSynchronizer check(m_groups, m_executor, true);
        check.initSync();
    }
    EXPECT_EQ(1, log.count("No groups scheduled for bucket status update"));

    m_rest.addBucket("B", "tok");
    const auto group = m_groups.add("B", "tok");
    CBucketGroupStateSynchronizer check(m_groups, m_executor, true);
    check.initSync();
    const std::size_t asked = m_service.log().forPath("/api/v2/bucket/B").size();
    EXPECT_EQ(1u, asked);
    check.initSync();
    EXPECT_EQ(asked + 1, m_service.log().forPath("/api/v2/bucket/B").size());
}

TEST_F(BucketGroupStateSynchronizerTest, DestroyedWhileAnotherThreadWaitsEndsTheWaitWithoutActions)
{
    Watchdog watchdog("destroyed while waiting", std::chrono::seconds(60));
    m_rest.addBucket("SILENT", "tok", "EXPIRED");
    m_service.faults().add(FaultRule{"GET", "/api/v2/bucket/SILENT", 1, 0, Fault::stall()});
    const auto group = m_groups.add("SILENT", "tok");
    LogCapture log;
    auto check = std::make_unique<CBucketGroupStateSynchronizer>(m_groups, m_executor, true, std::chrono::hours(1));
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        check->initSync();
        returned = true;
    });
    ASSERT_TRUE(waitUntil([&] { return log.count("Start waiting for bucket status update") == 1; }, 30000));
    check.reset();
    waiter.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(0, group->cancels.load());
}
