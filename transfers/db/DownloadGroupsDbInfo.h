#pragma once

#include "db/GroupsDbInfoBase.h"

#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

// The download groups: table DownloadGroupsDictionary, one row per group, keyed by GroupId.
class CDownloadGroupsDbInfo : public CGroupsDbInfoBase {
public:
    struct GroupInfo : public CGroupsDbInfoBase::GroupInfo {
        std::wstring DownloadPath; // stored as UTF-8, as the seventh column
    };

    // The group parameters refer to these.
    static const char* const kTableName; // "DownloadGroupsDictionary"
    static const char* const kKeyColumn; // "GroupId"

    explicit CDownloadGroupsDbInfo(std::shared_ptr<CDbConnection> connection);

    // Fails on a group id that is already stored: the stored group is kept and the caller told.
    bool insert(const GroupInfo& group);
    // Replaces `groups` with every stored row; on failure `groups` is left empty.
    bool selectAll(std::vector<GroupInfo>& groups);

private:
    friend class CDbDownloadGroupInfoAggregator;

    void insertRow(Poco::Data::Session& session, const GroupInfo& group) const;
};

} // namespace fv_transfers
