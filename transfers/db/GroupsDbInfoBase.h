#pragma once

#include "db/DbTable.h"

#include <cstdint>
#include <string>

namespace fv_transfers {

// What upload and download group tables share: the bucket columns of a group row and the
// updates and removal by group id.
class CGroupsDbInfoBase : public CDbTable {
public:
    struct GroupInfo {
        GroupInfo() = default;
        GroupInfo(const GroupInfo&) = default;
        GroupInfo(GroupInfo&&) = default;
        GroupInfo& operator=(const GroupInfo&) = default;
        GroupInfo& operator=(GroupInfo&&) = default;
        virtual ~GroupInfo() = default;

        std::string BucketUid;
        std::string BucketToken;
        std::string BucketType;
        std::uint64_t ExpirationDate = 0;
        std::int32_t GroupId = 0;
        bool Paused = false;
        std::uint32_t RetryCount = 0;
    };

    // True when the statement ran, whether or not a row had that id.
    bool removeByGroupId(std::int32_t groupId);
    bool updatePaused(std::int32_t groupId, bool paused);
    bool updateRetryCount(std::int32_t groupId, std::uint32_t retryCount);
    // The highest stored group id, 0 when no group is stored; untouched when the query failed.
    bool selectMaxGroupId(std::int32_t& maxGroupId);

protected:
    using CDbTable::CDbTable;

    void deleteGroupRow(Poco::Data::Session& session, std::int32_t groupId) const;
    bool updateColumn(const char* verb, const char* column, std::int64_t value, std::int32_t groupId);

    // Both tables store one column of their own between Paused and RetryCount.
    template <typename Row, typename Column> static Row toRow(const GroupInfo& group, const Column& ownColumn)
    {
        return Row(group.BucketUid, group.BucketToken, group.BucketType, group.ExpirationDate, group.GroupId,
                   group.Paused, ownColumn, group.RetryCount);
    }

    template <typename Row> static void fromRow(const Row& row, GroupInfo& group)
    {
        group.BucketUid = row.template get<0>();
        group.BucketToken = row.template get<1>();
        group.BucketType = row.template get<2>();
        group.ExpirationDate = row.template get<3>();
        group.GroupId = row.template get<4>();
        group.Paused = row.template get<5>();
        group.RetryCount = row.template get<7>();
    }
};

} // namespace fv_transfers
