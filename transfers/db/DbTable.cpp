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

bool CDbTable::removeRowsOfFile(const std::string& fileUid)
{
    return run("delete from", [&](Poco::Data::Session& session) {
        session << "DELETE FROM " + m_tableName + " WHERE FileUid=?", bind(fileUid), now;
    });
}

bool CDbTable::removeRowsOfFiles(const std::set<std::string>& fileUids)
{
    if (fileUids.empty())
        return true;
    // A bound vector runs the statement once per id.
    std::vector<std::string> ids(fileUids.begin(), fileUids.end());
    return runInTransaction("delete from", [&](Poco::Data::Session& session) {
        session << "DELETE FROM " + m_tableName + " WHERE FileUid=?", use(ids), now;
    });
}

} // namespace fv_transfers
