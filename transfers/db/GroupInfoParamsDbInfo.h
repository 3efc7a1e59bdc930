#pragma once

#include "db/DbTable.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

// The download groups' parameters: table GroupInfoParams, one row per key of a group's map.
class CGroupInfoParamsDbInfo : public CDbTable {
public:
    using Params = std::map<std::string, std::string>;

    struct GroupParams {
        std::int32_t GroupId = 0;
        std::shared_ptr<Params> params;
    };

    CGroupInfoParamsDbInfo(std::shared_ptr<CDbConnection> connection, const std::string& parentTable,
                           const std::string& parentKey);

    // Replaces the group's stored parameters with the map, in one transaction. A null or empty
    // map leaves the group without parameters.
    bool insert(const GroupParams& params);
    // Replaces `params` with one entry per group id that has rows; on failure it is left empty.
    bool selectAll(std::vector<GroupParams>& params);
    bool removeByGroupId(std::int32_t groupId);
    // Deletes the rows whose group is not stored; `removed` gets their count.
    bool removeOrphans(std::size_t& removed);

private:
    friend class CDbDownloadGroupInfoAggregator;

    void replaceRows(Poco::Data::Session& session, std::int32_t groupId, const std::shared_ptr<Params>& params) const;
    void deleteRows(Poco::Data::Session& session, std::int32_t groupId) const;

    const std::string m_parentTable;
    const std::string m_parentKey;
};

} // namespace fv_transfers
