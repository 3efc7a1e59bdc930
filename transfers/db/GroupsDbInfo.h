#pragma once

#include "db/GroupsDbInfoBase.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace fv_transfers {

// The upload groups: table GroupsDictionary, one row per group.
class CGroupsDbInfo : public CGroupsDbInfoBase {
public:
    struct GroupInfo : public CGroupsDbInfoBase::GroupInfo {
        bool Marked = false; // stored as the seventh column, before RetryCount
    };

    explicit CGroupsDbInfo(std::shared_ptr<CDbConnection> connection);

    // Fails on a group id that is already stored: the stored group is kept and the caller told.
    bool insert(const GroupInfo& group);
    // Replaces `groups` with every stored row; on failure `groups` is left empty.
    bool selectAll(std::vector<GroupInfo>& groups);
    bool updateMarked(std::int32_t groupId, bool marked);
};

} // namespace fv_transfers
