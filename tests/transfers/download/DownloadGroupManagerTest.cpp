#include "transfers/download/DownloadGroupFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace fv_test;

namespace {

using DownloadGroupManagerTest = DownloadGroupFixture;

std::vector<std::string> storedParams(fv_transfers::CDbHolder& holder, std::int32_t groupId)
{
    std::vector<fv_transfers::CDbDownloadGroupInfoAggregator::GroupInfo> groups;
    holder.getDownloadGroupInfoAggregator()->selectAll(groups);
    std::vector<std::string> result;
    for (const auto& group : groups) {
        if (group.GroupId == groupId && group.params) {
            for (const auto& entry : *group.params)
                result.push_back(entry.first + "=" + entry.second);
        }
    }
    return result;
}

} // namespace

TEST_F(DownloadGroupManagerTest, CreateStoresTheRowAndSharesTheGroupInfoMap)
{
    auto info = std::make_shared<CDownloadManager::GroupInfoMap>(
        CDownloadManager::GroupInfoMap{{"name", "Holiday"}, {"origin", "web"}});
    const std::int32_t id = createGroup(folderUrl(m_folder), info);
    ASSERT_GE(id, 0);
    EXPECT_EQ(info, m_manager->getGroupInfo(id)); // the same object, not a copy
    EXPECT_EQ((std::vector<std::string>{"name=Holiday", "origin=web"}), storedParams(db(), id));
    EXPECT_EQ(1, rows("DownloadGroupsDictionary"));
    EXPECT_EQ(nullptr, m_manager->getGroupInfo(id + 1));
}

TEST_F(DownloadGroupManagerTest, RestoreRebuildsGroupsAndTheirMaps)
{
    auto info = std::make_shared<CDownloadManager::GroupInfoMap>(CDownloadManager::GroupInfoMap{{"name", "A"}});
    const std::int32_t first = createGroup(folderUrl(m_folder), info);
    const std::int32_t second = createGroup(folderUrl(m_folder));
    group(second)->pause();
    group(second)->setRetryCounterLocked(4, true);
    tearDownParts();

    ASSERT_TRUE(fv_transfers::CDbDataLoader::getInstance().loadDownloadData());
    build();
    m_manager->restoreGroups(0, false);
    fv_transfers::CDbDataLoader::getInstance().releaseDownloadData();

    ASSERT_EQ(2u, m_manager->getGroupsCount());
    ASSERT_TRUE(m_manager->getGroupInfo(first));
    EXPECT_EQ(*info, *m_manager->getGroupInfo(first));
    EXPECT_EQ(nullptr, m_manager->getGroupInfo(second));
    EXPECT_FALSE(group(first)->isPaused());
    EXPECT_TRUE(group(second)->isPaused());
    CDownloadManager::GroupState state;
    group(second)->getGroupState(state);
    EXPECT_EQ(4u, state.retryCounter);
    EXPECT_EQ(fv_transfers::utf8ToWide(m_folder), state.downloadPath);
    EXPECT_EQ(second + 1, createGroup(folderUrl(m_folder)));
}

TEST_F(DownloadGroupManagerTest, WithoutASnapshotNewIdsStartAboveTheStoredOnes)
{
    createGroup(folderUrl(m_folder));
    const std::int32_t last = createGroup(folderUrl(m_folder));
    tearDownParts();
    build();
    m_manager->setSnapshotRead(false);
    m_manager->restoreGroups(0, false);
    EXPECT_EQ(last + 1, createGroup(folderUrl(m_folder)));
}

TEST_F(DownloadGroupManagerTest, AGroupWhoseRowCannotBeStoredIsNotCreated)
{
    // A row with the next id is already there (stored by another run behind the manager's back).
    fv_transfers::CDbDownloadGroupInfoAggregator::GroupInfo row;
    row.GroupId = 0;
    row.BucketUid = "other";
    ASSERT_TRUE(db().getDownloadGroupInfoAggregator()->insert(row));
    EXPECT_EQ(-1, createGroup(folderUrl(m_folder)));
    EXPECT_EQ(0u, m_manager->getGroupsCount());
}
