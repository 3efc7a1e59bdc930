#pragma once

#include "db/DownloadGroupsDbInfo.h"
#include "db/GroupInfoParamsDbInfo.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

// The download groups together with their parameters. A group's row and its parameter rows are
// written and removed in one transaction, so neither can be left without the other.
class CDbDownloadGroupInfoAggregator {
public:
    struct GroupInfo : public CDownloadGroupsDbInfo::GroupInfo {
        std::shared_ptr<std::map<std::string, std::string>> params; // null: the group has none
    };

    explicit CDbDownloadGroupInfoAggregator(const std::shared_ptr<CDbConnection>& connection);

    // The group's row and its parameters (none when `params` is null or empty). Fails, storing
    // nothing, when the group id is already stored.
    bool insert(const GroupInfo& group);
    // Removes the group's row and its parameters.
    bool removeByGroupId(std::int32_t groupId);
    bool updatePaused(std::int32_t groupId, bool paused);
    bool updateRetryCount(std::int32_t groupId, std::uint32_t retryCount);
    // The highest stored group id, 0 when none is stored; `maxGroupId` is untouched on failure.
    // Lets a manager whose snapshot could not be read still pick an id that is free.
    bool selectMaxGroupId(std::int32_t& maxGroupId);
    // Replaces `groups` with every stored group joined with its parameters. Parameter rows of
    // groups that are not stored are not returned (see CGroupInfoParamsDbInfo::removeOrphans).
    // On failure `groups` is left empty.
    bool selectAll(std::vector<GroupInfo>& groups);

    CDownloadGroupsDbInfo m_groupsDbInfo;
    CGroupInfoParamsDbInfo m_groupInfoParamsDbInfo;

private:
    const std::shared_ptr<CDbConnection> m_connection;
};

} // namespace fv_transfers
