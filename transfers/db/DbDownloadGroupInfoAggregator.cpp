#include "db/DbDownloadGroupInfoAggregator.h"

#include <unordered_map>

namespace fv_transfers {

CDbDownloadGroupInfoAggregator::CDbDownloadGroupInfoAggregator(const std::shared_ptr<CDbConnection>& connection)
    : m_groupsDbInfo(connection),
      m_groupInfoParamsDbInfo(connection, CDownloadGroupsDbInfo::kTableName, CDownloadGroupsDbInfo::kKeyColumn),
      m_connection(connection)
{
}

bool CDbDownloadGroupInfoAggregator::insert(const GroupInfo& group)
{
    return m_connection->runInTransaction("insert into", m_groupsDbInfo.tableName(), [&](Poco::Data::Session& session) {
        m_groupsDbInfo.insertRow(session, group);
        m_groupInfoParamsDbInfo.replaceRows(session, group.GroupId, group.params);
    });
}

bool CDbDownloadGroupInfoAggregator::removeByGroupId(std::int32_t groupId)
{
    return m_connection->runInTransaction("delete from", m_groupsDbInfo.tableName(), [&](Poco::Data::Session& session) {
        m_groupInfoParamsDbInfo.deleteRows(session, groupId);
        m_groupsDbInfo.deleteGroupRow(session, groupId);
    });
}

bool CDbDownloadGroupInfoAggregator::updatePaused(std::int32_t groupId, bool paused)
{
    return m_groupsDbInfo.updatePaused(groupId, paused);
}

bool CDbDownloadGroupInfoAggregator::updateRetryCount(std::int32_t groupId, std::uint32_t retryCount)
{
    return m_groupsDbInfo.updateRetryCount(groupId, retryCount);
}

bool CDbDownloadGroupInfoAggregator::selectMaxGroupId(std::int32_t& maxGroupId)
{
    return m_groupsDbInfo.selectMaxGroupId(maxGroupId);
}

bool CDbDownloadGroupInfoAggregator::selectAll(std::vector<GroupInfo>& groups)
{
    groups.clear();
    std::vector<CDownloadGroupsDbInfo::GroupInfo> rows;
    std::vector<CGroupInfoParamsDbInfo::GroupParams> params;
    if (!m_groupsDbInfo.selectAll(rows) || !m_groupInfoParamsDbInfo.selectAll(params))
        return false;
    std::unordered_map<std::int32_t, std::shared_ptr<std::map<std::string, std::string>>> paramsByGroup;
    for (auto& entry : params)
        paramsByGroup.emplace(entry.GroupId, std::move(entry.params));
    groups.reserve(rows.size());
    for (auto& row : rows) {
        GroupInfo group;
        static_cast<CDownloadGroupsDbInfo::GroupInfo&>(group) = std::move(row);
        const auto found = paramsByGroup.find(group.GroupId);
        if (found != paramsByGroup.end())
            group.params = found->second;
        groups.push_back(std::move(group));
    }
    return true;
}

} // namespace fv_transfers
