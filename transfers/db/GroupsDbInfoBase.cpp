#include "db/GroupsDbInfoBase.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

bool CGroupsDbInfoBase::removeByGroupId(std::int32_t groupId)
{
    return run("delete from", [&](Poco::Data::Session& session) { deleteGroupRow(session, groupId); });
}

bool CGroupsDbInfoBase::updatePaused(std::int32_t groupId, bool paused)
{
    return updateColumn("update paused field in", "Paused", paused ? 1 : 0, groupId);
}

bool CGroupsDbInfoBase::updateRetryCount(std::int32_t groupId, std::uint32_t retryCount)
{
    return updateColumn("update RetryCount field in", "RetryCount", retryCount, groupId);
}

bool CGroupsDbInfoBase::selectMaxGroupId(std::int32_t& maxGroupId)
{
    Poco::Int32 found = 0;
    if (!run("select from", [&](Poco::Data::Session& session) {
            session << "SELECT COALESCE(MAX(GroupId), 0) FROM " + m_tableName, into(found), now;
        }))
        return false;
    maxGroupId = found;
    return true;
}

void CGroupsDbInfoBase::deleteGroupRow(Poco::Data::Session& session, std::int32_t groupId) const
{
    session << "DELETE FROM " + m_tableName + " WHERE GroupId=?", bind(groupId), now;
}

bool CGroupsDbInfoBase::updateColumn(const char* verb, const char* column, std::int64_t value, std::int32_t groupId)
{
    return run(verb, [&](Poco::Data::Session& session) {
        session << "UPDATE " + m_tableName + " SET " + column + "=? WHERE GroupId=?", bind(value), bind(groupId), now;
    });
}

} // namespace fv_transfers
