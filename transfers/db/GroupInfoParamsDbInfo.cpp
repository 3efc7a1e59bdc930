#include "db/GroupInfoParamsDbInfo.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>
#include <Poco/Tuple.h>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

namespace {

using Row = Poco::Tuple<Poco::Int32, std::string, std::string>;

} // namespace

CGroupInfoParamsDbInfo::CGroupInfoParamsDbInfo(std::shared_ptr<CDbConnection> connection,
                                               const std::string& parentTable, const std::string& parentKey)
    : CDbTable(std::move(connection), "GroupInfoParams"), m_parentTable(parentTable), m_parentKey(parentKey)
{
    create("CREATE TABLE IF NOT EXISTS GroupInfoParams (GroupId UINTEGER16, DataKey VARCHAR, DataVal VARCHAR, "
           "PRIMARY KEY(GroupId, DataKey), FOREIGN KEY(GroupId) REFERENCES " +
           parentTable + "(" + parentKey + ") ON DELETE CASCADE)");
}

bool CGroupInfoParamsDbInfo::insert(const GroupParams& params)
{
    return runInTransaction("insert into",
                            [&](Poco::Data::Session& session) { replaceRows(session, params.GroupId, params.params); });
}

void CGroupInfoParamsDbInfo::replaceRows(Poco::Data::Session& session, std::int32_t groupId,
                                         const std::shared_ptr<Params>& params) const
{
    // Rows left by a group that once had this id must not pass to the new group.
    deleteRows(session, groupId);
    if (!params || params->empty())
        return;
    std::vector<Row> rows;
    rows.reserve(params->size());
    for (const auto& entry : *params)
        rows.emplace_back(groupId, entry.first, entry.second);
    session << "INSERT INTO GroupInfoParams (GroupId, DataKey, DataVal) VALUES(?, ?, ?)", use(rows), now;
}

void CGroupInfoParamsDbInfo::deleteRows(Poco::Data::Session& session, std::int32_t groupId) const
{
    session << "DELETE FROM GroupInfoParams WHERE GroupId=?", bind(groupId), now;
}

bool CGroupInfoParamsDbInfo::selectAll(std::vector<GroupParams>& params)
{
    params.clear();
    std::vector<Row> rows;
    if (!run("select from", [&](Poco::Data::Session& session) {
            session << "SELECT GroupId, DataKey, DataVal FROM GroupInfoParams ORDER BY GroupId, DataKey", into(rows),
                now;
        }))
        return false;
    for (const Row& row : rows) {
        if (params.empty() || params.back().GroupId != row.get<0>()) {
            GroupParams group;
            group.GroupId = row.get<0>();
            group.params = std::make_shared<Params>();
            params.push_back(std::move(group));
        }
        params.back().params->emplace(row.get<1>(), row.get<2>());
    }
    return true;
}

bool CGroupInfoParamsDbInfo::removeByGroupId(std::int32_t groupId)
{
    return run("delete from", [&](Poco::Data::Session& session) { deleteRows(session, groupId); });
}

bool CGroupInfoParamsDbInfo::removeOrphans(std::size_t& removed)
{
    const std::string orphans =
        " FROM GroupInfoParams WHERE GroupId NOT IN (SELECT " + m_parentKey + " FROM " + m_parentTable + ")";
    return runInTransaction("delete from", [&](Poco::Data::Session& session) {
        Poco::UInt64 count = 0;
        session << "SELECT COUNT(*)" + orphans, into(count), now;
        session << "DELETE" + orphans, now;
        removed = static_cast<std::size_t>(count);
    });
}

} // namespace fv_transfers
