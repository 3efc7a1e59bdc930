#include "db/DownloadGroupsDbInfo.h"

#include "core/base/StringConversion.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>
#include <Poco/Tuple.h>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

namespace {

using Row =
    Poco::Tuple<std::string, std::string, std::string, Poco::UInt64, Poco::Int32, bool, std::string, Poco::UInt32>;

const char* const kColumns =
    "BucketUid, BucketToken, BucketType, ExpirationDate, GroupId, Paused, DownloadPath, RetryCount";

} // namespace

const char* const CDownloadGroupsDbInfo::kTableName = "DownloadGroupsDictionary";
const char* const CDownloadGroupsDbInfo::kKeyColumn = "GroupId";

CDownloadGroupsDbInfo::CDownloadGroupsDbInfo(std::shared_ptr<CDbConnection> connection)
    : CGroupsDbInfoBase(std::move(connection), kTableName)
{
    create(std::string("CREATE TABLE IF NOT EXISTS ") + kTableName +
           " (BucketUid VARCHAR(40), BucketToken VARCHAR(40), BucketType VARCHAR, ExpirationDate UINTEGER64, " +
           kKeyColumn + " UINTEGER16 PRIMARY KEY, Paused BOOLEAN, DownloadPath VARCHAR, RetryCount UINTEGER32)");
}

bool CDownloadGroupsDbInfo::insert(const GroupInfo& group)
{
    return run("insert into", [&](Poco::Data::Session& session) { insertRow(session, group); });
}

void CDownloadGroupsDbInfo::insertRow(Poco::Data::Session& session, const GroupInfo& group) const
{
    session << "INSERT INTO " + m_tableName + " (" + kColumns + ") VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
        bind(toRow<Row>(group, wideToUtf8(group.DownloadPath))), now;
}

bool CDownloadGroupsDbInfo::selectAll(std::vector<GroupInfo>& groups)
{
    return selectRecords<Row>("SELECT " + std::string(kColumns) + " FROM " + m_tableName + " ORDER BY rowid", groups,
                              [](const Row& row) {
                                  GroupInfo group;
                                  fromRow(row, group);
                                  group.DownloadPath = utf8ToWide(row.get<6>());
                                  return group;
                              });
}

} // namespace fv_transfers
