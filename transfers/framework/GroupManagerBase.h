#pragma once

#include "db/GroupsDbInfoBase.h"
#include "framework/TransferGroup.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fv_transfers {

class CDbDataLoader;
class CTrasfersAsyncTasksExecutor;
class ITransferEngineCallback;

// What every group needs at construction. Each concrete group derives its own parameters
// (with its callback, folder...) from it.
struct GroupInitParams {
    virtual ~GroupInitParams() = default;

    std::string bucketId;
    std::string bucketToken;
    std::string bucketType;
    std::uint64_t tokenExpiration = 0;
    std::int32_t groupId = 0;
    bool isNew = false; // a new group stores its row; a restored one writes nothing
    std::shared_ptr<CTrasfersAsyncTasksExecutor> tasksExecutor;
};

// The groups of one manager and the source of their ids. The proxy thread adds and finds groups
// while the engine thread walks and removes them, so every operation takes the manager's lock
// and hands out shared pointers or copies, never references into the list.
class CGroupManagerBase {
public:
    using GroupPtr = std::shared_ptr<ITransferGroup>;
    using GroupList = std::list<GroupPtr>;

    CGroupManagerBase();
    virtual ~CGroupManagerBase();
    CGroupManagerBase(const CGroupManagerBase&) = delete;
    CGroupManagerBase& operator=(const CGroupManagerBase&) = delete;

    // Rebuilds every stored group from the start-up snapshot; `value` and `flag` are handed to
    // configureGroup. New ids start above every stored one, also when the snapshot could not be
    // read (then the stored maximum is asked for).
    void restoreGroups(std::uint64_t value, bool flag);
    // The new group's id, or -1 when it could not be built or stored.
    std::int32_t addGroup(GroupInitParams& params);
    // The oldest group of that bucket, or -1.
    std::int32_t findGroupByBucketId(const std::string& bucketId) const;
    GroupPtr findGroupById(std::int32_t groupId) const;
    // The first group, in list order, that is not in `excluded`; empty when there is none.
    GroupPtr findGroupNotIn(const GroupList& excluded) const;
    void removeGroup(const GroupPtr& group);
    // A copy of the list, in creation and restore order.
    GroupList getGroups() const;
    std::size_t getGroupsCount() const;

    void setEngine(ITransferEngineCallback* engine);
    ITransferEngineCallback* getEngine() const;
    void setTasksExecutor(std::shared_ptr<CTrasfersAsyncTasksExecutor> executor);
    std::shared_ptr<CTrasfersAsyncTasksExecutor> getTasksExecutor() const;

protected:
    using GroupInfoPtr = std::shared_ptr<CGroupsDbInfoBase::GroupInfo>;

    // A group built from a stored row (its params' isNew false), or null (logged by the
    // concrete manager).
    virtual GroupPtr configureGroup(const CGroupsDbInfoBase::GroupInfo& row, std::uint64_t value, bool flag) = 0;
    // A new group that has stored its row, or null.
    virtual GroupPtr createGroup(GroupInitParams& params) = 0;
    // The stored rows of this manager's kind; false when the snapshot could not be read.
    virtual bool collectGroupInfos(CDbDataLoader& loader, std::vector<GroupInfoPtr>& rows) = 0;
    // The highest stored group id (-1 when none); false when the database cannot answer.
    virtual bool selectMaxStoredGroupId(std::int32_t& maxGroupId) = 0;

private:
    // Serialises addGroup, so an id is handed out once and comes back when its group failed;
    // taken before m_lock, and held while the group is built.
    std::mutex m_addLock;
    mutable std::mutex m_lock; // guards everything below; never held while a group is called
    GroupList m_groups;
    std::int32_t m_nextGroupId = 0;
    ITransferEngineCallback* m_engine = nullptr;
    std::shared_ptr<CTrasfersAsyncTasksExecutor> m_tasksExecutor;
};

} // namespace fv_transfers
