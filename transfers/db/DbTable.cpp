#include "db/DbTable.h"

#include <utility>
#include <vector>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

CDbTable::CDbTable(std::shared_ptr<CDbConnection> connection, std::string tableName)
    : m_connection(std::move(connection)), m_tableName(std::move(tableName))
{
}

CDbTable::~CDbTable() = default;

bool CDbTable::create(const std::string& createStatement)
{
    return run("create", [&](Poco::Data::Session& session) { session << createStatement, now; });
}

bool CDbTable::run(const char* verb, const CDbConnection::Body& body)
{
    return m_connection->run(verb, m_tableName, body);
}

bool CDbTable::runInTransaction(const char* verb, const CDbConnection::Body& body)
{
    return m_connection->runInTransaction(verb, m_tableName, body);
}

bool CDbTable::updateMatched(const CDbConnection::Body& body)
{
    int changed = 0;
    return run("update",
               [&](Poco::Data::Session& session) {
                   body(session);
                   // Read under the same hold of the connection, so no other statement comes between.
                   session << "SELECT changes()", into(changed), now;
               }) &&
           changed > 0;
}

bool CDbTable::hasColumn(Poco::Data::Session& session, const std::string& column) const
{
    int columns = 0;
    session << "SELECT COUNT(*) FROM pragma_table_info(?) WHERE name=?", bind(m_tableName), bind(column), into(columns),
        now;
    return columns > 0;
}

void CDbTable::addColumnIfMissing(Poco::Data::Session& session, const std::string& column,
                                  const std::string& definition)
{
    // Names and definitions are the table object's own constants, never values.
    if (!hasColumn(session, column))
        session << "ALTER TABLE " + m_tableName + " ADD COLUMN " + column + " " + definition, now;
}

bool CDbTable::removeRowsOfFile(const std::string& fileUid)
{
    return run("delete from", [&](Poco::Data::Session& session) {
        session << "DELETE FROM " + m_tableName + " WHERE FileUid=?", bind(fileUid), now;
    });
}

bool CDbTable::removeRowsOfFiles(const std::set<std::string>& fileUids)
{
    return removeRowsOfFilesWhere(fileUids, std::string());
}

bool CDbTable::removeOrphanRowsOfFiles(const std::set<std::string>& fileUids, const std::string& linkColumn,
                                       const std::string& parentTable, const std::string& parentKey)
{
    // NOT EXISTS rather than NOT IN: a NULL key in the parent table must not shield every row.
    return removeRowsOfFilesWhere(fileUids, " AND NOT EXISTS (SELECT 1 FROM " + parentTable + " WHERE " + parentTable +
                                                "." + parentKey + "=" + m_tableName + "." + linkColumn + ")");
}

bool CDbTable::removeRowsOfFilesWhere(const std::set<std::string>& fileUids, const std::string& condition)
{
    if (fileUids.empty())
        return true;
    // A bound vector runs the statement once per id.
    std::vector<std::string> ids(fileUids.begin(), fileUids.end());
    return runInTransaction("delete from", [&](Poco::Data::Session& session) {
        session << "DELETE FROM " + m_tableName + " WHERE FileUid=?" + condition, use(ids), now;
    });
}

} // namespace fv_transfers
