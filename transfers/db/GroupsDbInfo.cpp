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
    return insertRow("INSERT INTO GroupsDictionary (" + std::string(kColumns) + ") VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
                     toRow<Row>(group, group.Marked));
}

bool CGroupsDbInfo::selectAll(std::vector<GroupInfo>& groups)
{
    return selectRecords<Row>("SELECT " + std::string(kColumns) + " FROM GroupsDictionary ORDER BY rowid", groups,
                              [](const Row& row) {
                                  GroupInfo group;
                                  fromRow(row, group);
                                  group.Marked = row.get<6>();
                                  return group;
                              });
}

bool CGroupsDbInfo::updateMarked(std::int32_t groupId, bool marked)
{
    return updateColumn("update marked field in", "Marked", marked ? 1 : 0, groupId);
}

} // namespace fv_transfers
