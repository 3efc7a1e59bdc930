#pragma once

#include "db/DbConnection.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fv_transfers {

// What every table object shares: the connection it co-owns (so no table outlives its session)
// and its table's name for statements and log lines.
class CDbTable {
public:
    const std::string& tableName() const { return m_tableName; }

protected:
    CDbTable(std::shared_ptr<CDbConnection> connection, std::string tableName);
    ~CDbTable();

    // The statement is complete SQL: table objects never splice values into SQL.
    bool create(const std::string& createStatement);
    bool run(const char* verb, const CDbConnection::Body& body);
    bool runInTransaction(const char* verb, const CDbConnection::Body& body);
    // Runs an UPDATE and reports whether it matched a row: false when it failed or matched none.
    bool updateMatched(const CDbConnection::Body& body);
    // For layout upgrades inside a create transaction: whether the table has `column` yet.
    bool hasColumn(Poco::Data::Session& session, const std::string& column) const;
    // The same, adding `column` with its definition when the table lacks it.
    void addColumnIfMissing(Poco::Data::Session& session, const std::string& column, const std::string& definition);

    // Runs `statement` with the row's columns bound in order.
    template <typename Row> bool insertRow(const std::string& statement, const Row& row)
    {
        return run("insert into", [&](Poco::Data::Session& session) {
            session << statement, Poco::Data::Keywords::bind(row), Poco::Data::Keywords::now;
        });
    }

    // Replaces `records` with one record per row that `query` returns; left empty on failure.
    template <typename Row, typename Record, typename Convert>
    bool selectRecords(const std::string& query, std::vector<Record>& records, Convert convert)
    {
        records.clear();
        std::vector<Row> rows;
        if (!run("select from", [&](Poco::Data::Session& session) {
                session << query, Poco::Data::Keywords::into(rows), Poco::Data::Keywords::now;
            }))
            return false;
        records.reserve(rows.size());
        for (const Row& row : rows)
            records.push_back(convert(row));
        return true;
    }

    // For the tables keyed by a file uid. Every id is bound, so an id holding quotes or naming a
    // column matches only itself; a set is deleted in one transaction, all or nothing.
    bool removeRowsOfFile(const std::string& fileUid);
    bool removeRowsOfFiles(const std::set<std::string>& fileUids);
    // The same, for the rows whose `linkColumn` matches no `parentKey` of `parentTable` at the
    // moment of deletion: another connection may have stored the parent since the caller looked.
    bool removeOrphanRowsOfFiles(const std::set<std::string>& fileUids, const std::string& linkColumn,
                                 const std::string& parentTable, const std::string& parentKey);

    const std::shared_ptr<CDbConnection> m_connection;
    const std::string m_tableName;

private:
    bool removeRowsOfFilesWhere(const std::set<std::string>& fileUids, const std::string& condition);
};

} // namespace fv_transfers
