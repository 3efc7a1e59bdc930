#include "framework/GroupManagerBase.h"

#include "framework/TrasfersAsyncTasksExecutor.h"

#include <algorithm>

namespace fv_transfers {

CGroupManagerBase::CGroupManagerBase() = default;

CGroupManagerBase::~CGroupManagerBase() = default;

std::int32_t CGroupManagerBase::addGroup(GroupInitParams& params)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        params.groupId = m_nextGroupId++;
        params.tasksExecutor = m_tasksExecutor;
    }
    params.isNew = true;
    GroupPtr group = createGroup(params);
    if (!group)
        return -1;
    std::lock_guard<std::mutex> guard(m_lock);
    m_groups.push_back(group);
    return params.groupId;
}

std::int32_t CGroupManagerBase::findGroupByBucketId(const std::string& bucketId) const
{
    for (const GroupPtr& group : getGroups())
        if (group->getBucketIdRef() == bucketId)
            return group->getGroupId();
    return -1;
}

CGroupManagerBase::GroupPtr CGroupManagerBase::findGroupById(std::int32_t groupId) const
{
    for (const GroupPtr& group : getGroups())
        if (group->getGroupId() == groupId)
            return group;
    return nullptr;
}

CGroupManagerBase::GroupPtr CGroupManagerBase::findGroupNotIn(const GroupList& excluded) const
{
    for (const GroupPtr& group : getGroups())
        if (std::find(excluded.begin(), excluded.end(), group) == excluded.end())
            return group;
    return nullptr;
}

void CGroupManagerBase::removeGroup(const GroupPtr& group)
{
    GroupPtr removed; // ends outside the lock
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = std::find(m_groups.begin(), m_groups.end(), group);
    if (it == m_groups.end())
        return;
    removed = *it;
    m_groups.erase(it);
}

CGroupManagerBase::GroupList CGroupManagerBase::getGroups() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_groups;
}

std::size_t CGroupManagerBase::getGroupsCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_groups.size();
}

void CGroupManagerBase::setEngine(ITransferEngineCallback* engine)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_engine = engine;
}

ITransferEngineCallback* CGroupManagerBase::getEngine() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_engine;
}

void CGroupManagerBase::setTasksExecutor(std::shared_ptr<CTrasfersAsyncTasksExecutor> executor)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_tasksExecutor = std::move(executor);
}

std::shared_ptr<CTrasfersAsyncTasksExecutor> CGroupManagerBase::getTasksExecutor() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tasksExecutor;
}

} // namespace fv_transfers
