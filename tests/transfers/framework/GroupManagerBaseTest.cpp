#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "framework/GroupManagerBase.h"
#include "transfers/framework/InertTransferGroup.h"
#include "transfers/db/DbTestSupport.h"

#include <Poco/Data/Extraction.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace fv_transfers;

namespace {

class PlainGroup : public fv_test::InertTransferGroup {
public:
    using InertTransferGroup::InertTransferGroup;

    void pause() override { paused = true; }
    bool isPaused() override { return paused; }
    void restoreFilesFromDb() override { ++filesRestored; }
    void setRetryCounterLocked(std::uint32_t value, bool save) override
    {
        retryCounter = value;
        retryCounterSaved = save;
    }

    std::atomic<bool> paused{false};
    std::atomic<int> filesRestored{0};
    std::atomic<std::uint32_t> retryCounter{0};
    std::atomic<bool> retryCounterSaved{false};
};

// Builds plain groups and, like the download manager, stores a new group's row and fails when it
// cannot.
class TestManager : public CGroupManagerBase {
public:
    explicit TestManager(std::shared_ptr<CDbHolder> holder = nullptr) : m_holder(std::move(holder)) {}

    bool snapshotRead = true; // what the loader answered
    std::uint64_t configuredValue = 0;
    bool configuredFlag = false;

protected:
    GroupPtr configureGroup(const CGroupsDbInfoBase::GroupInfo& row, std::uint64_t value, bool flag) override
    {
        configuredValue = value;
        configuredFlag = flag;
        return std::make_shared<PlainGroup>(row.GroupId, row.BucketUid);
    }

    GroupPtr createGroup(GroupInitParams& params) override
    {
        if (m_holder) {
            CDbDownloadGroupInfoAggregator::GroupInfo row;
            row.GroupId = params.groupId;
            row.BucketUid = params.bucketId;
            if (!params.isNew || !m_holder->getDownloadGroupInfoAggregator()->insert(row))
                return nullptr;
        }
        return std::make_shared<PlainGroup>(params.groupId, params.bucketId);
    }

    bool collectGroupInfos(CDbDataLoader& loader, std::vector<GroupInfoPtr>& rows) override
    {
        for (const auto& row : loader.downloadGroups())
            rows.push_back(std::make_shared<CDbDownloadGroupInfoAggregator::GroupInfo>(row));
        return snapshotRead;
    }

    bool selectMaxStoredGroupId(std::int32_t& maxGroupId) override
    {
        std::vector<Poco::Int32> ids;
        const bool read = m_holder && m_holder->getConnection()->run("select from", "test", [&](auto& session) {
            session << "SELECT COALESCE(MAX(GroupId), -1) FROM DownloadGroupsDictionary",
                Poco::Data::Keywords::into(ids), Poco::Data::Keywords::now;
        });
        if (!read || ids.empty())
            return false;
        maxGroupId = ids.front();
        return true;
    }

private:
    std::shared_ptr<CDbHolder> m_holder;
};

void storeGroup(CDbHolder& holder, std::int32_t id, bool paused = false, std::uint32_t retries = 0)
{
    CDbDownloadGroupInfoAggregator::GroupInfo row;
    row.GroupId = id;
    row.BucketUid = "b" + std::to_string(id);
    row.Paused = paused;
    row.RetryCount = retries;
    ASSERT_TRUE(holder.getDownloadGroupInfoAggregator()->insert(row));
}

GroupInitParams newParams(const std::string& bucketId)
{
    GroupInitParams params;
    params.bucketId = bucketId;
    return params;
}

PlainGroup& plain(const CGroupManagerBase::GroupPtr& group)
{
    return static_cast<PlainGroup&>(*group);
}

struct GroupManagerBase : ::testing::Test {
    fv_test::TempDir dir;
    std::shared_ptr<CDbHolder> holder = std::make_shared<CDbHolder>(dir.file("fv_transfers_v8.db"));

    void TearDown() override { CDbDataLoader::getInstance().releaseDownloadData(); }
};

} // namespace

TEST_F(GroupManagerBase, RestoredGroupsComeBackAsStoredAndNewIdsStartAboveThem)
{
    storeGroup(*holder, 3, false, 4);
    storeGroup(*holder, 7, true, 0);
    ASSERT_TRUE(CDbDataLoader::getInstance().loadDownloadData(*holder));
    TestManager manager(holder);

    manager.restoreGroups(123, true);

    const auto groups = manager.getGroups();
    ASSERT_EQ(2u, groups.size());
    EXPECT_EQ(3, groups.front()->getGroupId());
    EXPECT_EQ(7, groups.back()->getGroupId());
    EXPECT_FALSE(plain(groups.front()).paused);
    EXPECT_TRUE(plain(groups.back()).paused);
    EXPECT_EQ(4u, plain(groups.front()).retryCounter.load());
    EXPECT_FALSE(plain(groups.front()).retryCounterSaved);
    EXPECT_EQ(1, plain(groups.front()).filesRestored.load());
    EXPECT_EQ(123u, manager.configuredValue);
    EXPECT_TRUE(manager.configuredFlag);

    auto params = newParams("new");
    EXPECT_EQ(8, manager.addGroup(params));
    EXPECT_TRUE(params.isNew);
}

TEST_F(GroupManagerBase, WithoutStoredGroupsTheFirstIdIsZero)
{
    ASSERT_TRUE(CDbDataLoader::getInstance().loadDownloadData(*holder));
    TestManager manager(holder);
    manager.restoreGroups(0, false);
    auto params = newParams("a");
    EXPECT_EQ(0, manager.addGroup(params));
    EXPECT_EQ(1, manager.addGroup(params));
}

TEST_F(GroupManagerBase, AFailedSnapshotTakesTheNextIdFromTheStoredMaximum)
{
    const std::string path = dir.file("busy.db");
    {
        CDbHolder writer(path);
        storeGroup(writer, 0);
        storeGroup(writer, 5);
    }
    auto busy = std::make_shared<CDbHolder>(path, 1, std::chrono::milliseconds(1000));
    // The loader's own failure (a file held by another program) is its tests' concern; here it
    // answered "not read" with an empty snapshot while ids are stored.
    CDbHolder empty(dir.file("empty.db"));
    ASSERT_TRUE(CDbDataLoader::getInstance().loadDownloadData(empty));
    TestManager manager(busy);
    manager.snapshotRead = false;

    manager.restoreGroups(0, false);

    EXPECT_EQ(0u, manager.getGroupsCount());
    auto params = newParams("new");
    EXPECT_EQ(6, manager.addGroup(params));
    EXPECT_EQ(3, fv_test::countRows(*busy->getConnection(), "DownloadGroupsDictionary"));
}

TEST_F(GroupManagerBase, AFailedInsertGivesNoIdAndTheNextGroupGetsIt)
{
    ASSERT_TRUE(CDbDataLoader::getInstance().loadDownloadData(*holder));
    TestManager manager(holder);
    manager.restoreGroups(0, false);
    // A row the snapshot did not see holds the next id.
    storeGroup(*holder, 0);

    auto params = newParams("a");
    EXPECT_EQ(-1, manager.addGroup(params));
    EXPECT_EQ(0u, manager.getGroupsCount());

    ASSERT_TRUE(holder->getDownloadGroupInfoAggregator()->removeByGroupId(0));
    EXPECT_EQ(0, manager.addGroup(params));
    EXPECT_EQ(1u, manager.getGroupsCount());
}

TEST_F(GroupManagerBase, LookupsFollowCreationOrder)
{
    TestManager manager;
    auto a = newParams("same");
    auto b = newParams("other");
    ASSERT_EQ(0, manager.addGroup(a));
    ASSERT_EQ(1, manager.addGroup(b));
    ASSERT_EQ(2, manager.addGroup(a));

    EXPECT_EQ(0, manager.findGroupByBucketId("same"));
    EXPECT_EQ(-1, manager.findGroupByBucketId("none"));
    const auto second = manager.findGroupById(1);
    ASSERT_TRUE(second);
    EXPECT_EQ("other", second->getBucketIdRef());
    EXPECT_FALSE(manager.findGroupById(9));

    CGroupManagerBase::GroupList excluded{manager.findGroupById(0), second};
    EXPECT_EQ(2, manager.findGroupNotIn(excluded)->getGroupId());
    excluded.push_back(manager.findGroupById(2));
    EXPECT_FALSE(manager.findGroupNotIn(excluded));

    manager.removeGroup(manager.findGroupById(0));
    EXPECT_EQ(2, manager.findGroupByBucketId("same"));
    manager.removeGroup(manager.findGroupById(0)); // gone already: nothing
    EXPECT_EQ(2u, manager.getGroupsCount());
}

TEST_F(GroupManagerBase, ConcurrentAddsWalksAndRemovalsKeepTheListWhole)
{
    TestManager manager;
    constexpr int kGroups = 2000;
    std::atomic<bool> addsDone{false};
    std::vector<std::int32_t> ids;
    // All three start together, so their calls overlap.
    std::atomic<int> ready{0};
    auto startTogether = [&ready] {
        ++ready;
        while (ready.load() < 3)
            std::this_thread::yield();
    };

    std::thread adder([&] {
        startTogether();
        for (int i = 0; i < kGroups; ++i) {
            auto params = newParams("b" + std::to_string(i % 7));
            ids.push_back(manager.addGroup(params));
        }
        addsDone = true;
    });
    std::thread remover([&] {
        // The engine walks the list and drops finished groups.
        CGroupManagerBase::GroupList served;
        startTogether();
        while (!addsDone || manager.getGroupsCount() != 0) {
            auto group = manager.findGroupNotIn(served);
            if (!group) {
                served.clear();
                continue;
            }
            served.push_back(group);
            if (group->getGroupId() % 2 == 0 || addsDone)
                manager.removeGroup(manager.findGroupById(group->getGroupId()));
        }
    });
    std::thread reader([&] {
        startTogether();
        while (!addsDone) {
            manager.findGroupByBucketId("b3");
            manager.getGroups();
        }
    });
    adder.join();
    remover.join();
    reader.join();

    ASSERT_EQ(static_cast<std::size_t>(kGroups), ids.size());
    for (int i = 0; i < kGroups; ++i)
        EXPECT_EQ(i, ids[static_cast<std::size_t>(i)]);
    EXPECT_EQ(0u, manager.getGroupsCount());
}
