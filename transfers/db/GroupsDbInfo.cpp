#include "db/GroupsDbInfo.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>
#include <Poco/Tuple.h>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

namespace {

using Row = Poco::Tuple<std::string, std::string, std::string, Poco::UInt64, Poco::Int32, bool, bool, Poco::UInt32>;

const char* const kColumns = "BucketUid, BucketToken, BucketType, ExpirationDate, GroupId, Paused, Marked, RetryCount";

} // namespace

CGroupsDbInfo::CGroupsDbInfo(std::shared_ptr<CDbConnection> connection)
    : CGroupsDbInfoBase(std::move(connection), "GroupsDictionary")
{
    create("CREATE TABLE IF NOT EXISTS GroupsDictionary (BucketUid VARCHAR(40), BucketToken VARCHAR(40), "
           "BucketType VARCHAR, ExpirationDate UINTEGER64, GroupId UINTEGER16 PRIMARY KEY, Paused BOOLEAN, "
           "Marked BOOLEAN, RetryCount UINTEGER32)");
}

bool CGroupsDbInfo::insert(const GroupInfo& group)
{
    return run("insert into", [&](Poco::Data::Session& session) {
        session << "INSERT INTO GroupsDictionary (" + std::string(kColumns) + ") VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
            bind(toRow<Row>(group, group.Marked)), now;
    });
}

bool CGroupsDbInfo::selectAll(std::vector<GroupInfo>& groups)
{
    groups.clear();
    std::vector<Row> rows;
    if (!run("select from", [&](Poco::Data::Session& session) {
            session << "SELECT " + std::string(kColumns) + " FROM GroupsDictionary ORDER BY rowid", into(rows), now;
        }))
        return false;
    groups.reserve(rows.size());
    for (const Row& row : rows) {
        GroupInfo group;
        fromRow(row, group);
        group.Marked = row.get<6>();
        groups.push_back(std::move(group));
    }
    return true;
}

bool CGroupsDbInfo::updateMarked(std::int32_t groupId, bool marked)
{
    return updateColumn("update marked field in", "Marked", marked ? 1 : 0, groupId);
}

} // namespace fv_transfers
