#include "framework/GroupManagerBase.h"

#include "core/log/FvTransfersLogger.h"
#include "db/DbDataLoader.h"

#include <algorithm>
#include <utility>

namespace fv_transfers {

CGroupManagerBase::CGroupManagerBase() = default;

CGroupManagerBase::~CGroupManagerBase() = default;

void CGroupManagerBase::restoreGroups(std::uint64_t value, bool flag)
{
    std::vector<GroupInfoPtr> rows;
    const bool snapshotRead = collectGroupInfos(CDbDataLoader::getInstance(), rows);
    std::int32_t maxStoredId = -1;
    GroupList restored;
    for (const GroupInfoPtr& row : rows) {
        if (!row)
            continue;
        maxStoredId = std::max(maxStoredId, row->GroupId);
        GroupPtr group = configureGroup(*row, value, flag);
        if (!group)
            continue;
        if (row->Paused)
            group->pause();
        group->setRetryCounterLocked(row->RetryCount, false);
        group->restoreFilesFromDb();
        restored.push_back(std::move(group));
    }
    // Without the snapshot, ids would start at 0 while stored rows may hold them.
    if (!snapshotRead) {
        std::int32_t storedMax = -1;
        if (selectMaxStoredGroupId(storedMax))
            maxStoredId = std::max(maxStoredId, storedMax);
        else
            FV_LOG_ERROR("CGroupManagerBase::restoreGroups: the highest stored group id could not be read; "
                         "a new group whose id is taken will not be created");
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_groups.splice(m_groups.end(), restored);
    m_nextGroupId = std::max(m_nextGroupId, maxStoredId + 1);
}

std::int32_t CGroupManagerBase::addGroup(GroupInitParams& params)
{
    std::lock_guard<std::mutex> addLock(m_addLock);
    std::int32_t groupId = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        groupId = m_nextGroupId;
        params.groupId = groupId;
        params.tasksExecutor = m_tasksExecutor;
    }
    params.isNew = true;
    GroupPtr group = createGroup(params);
    if (!group)
        return -1;
    std::lock_guard<std::mutex> lock(m_lock);
    m_groups.push_back(std::move(group));
    m_nextGroupId = groupId + 1;
    return groupId;
}

std::int32_t CGroupManagerBase::findGroupByBucketId(const std::string& bucketId) const
{
    for (const GroupPtr& group : getGroups()) {
        if (group->getBucketIdRef() == bucketId)
            return group->getGroupId();
    }
    return -1;
}

CGroupManagerBase::GroupPtr CGroupManagerBase::findGroupById(std::int32_t groupId) const
{
    for (const GroupPtr& group : getGroups()) {
        if (group->getGroupId() == groupId)
            return group;
    }
    return GroupPtr();
}

CGroupManagerBase::GroupPtr CGroupManagerBase::findGroupNotIn(const GroupList& excluded) const
{
    for (const GroupPtr& group : getGroups()) {
        if (std::find(excluded.begin(), excluded.end(), group) == excluded.end())
            return group;
    }
    return GroupPtr();
}

void CGroupManagerBase::removeGroup(const GroupPtr& group)
{
    GroupList removed; // a group whose last reference this was ends after the lock
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = std::find(m_groups.begin(), m_groups.end(), group);
    if (it != m_groups.end())
        removed.splice(removed.end(), m_groups, it);
}

CGroupManagerBase::GroupList CGroupManagerBase::getGroups() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_groups;
}

std::size_t CGroupManagerBase::getGroupsCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_groups.size();
}

void CGroupManagerBase::setEngine(ITransferEngineCallback* engine)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_engine = engine;
}

ITransferEngineCallback* CGroupManagerBase::getEngine() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_engine;
}

void CGroupManagerBase::setTasksExecutor(std::shared_ptr<CTrasfersAsyncTasksExecutor> executor)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_tasksExecutor = std::move(executor);
}

std::shared_ptr<CTrasfersAsyncTasksExecutor> CGroupManagerBase::getTasksExecutor() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_tasksExecutor;
}

} // namespace fv_transfers
