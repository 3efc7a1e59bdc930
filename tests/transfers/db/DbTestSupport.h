#pragma once

#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/log/FvTransfersLogger.h"
#include "db/DbConnection.h"
#include "support/fixtures/TestEnvironment.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fv_test {

inline std::shared_ptr<fv_transfers::CDbConnection>
openTestDb(const std::string& path, std::size_t busyTimeoutSeconds = fv_transfers::CDbConnection::kBusyTimeoutSeconds)
{
    std::string error;
    return fv_transfers::CDbConnection::open(path, busyTimeoutSeconds, error);
}

// Raw SQL beside the table objects, to look at or damage what they stored.
inline bool execSql(fv_transfers::CDbConnection& db, const std::string& sql)
{
    return db.run("run", "test", [&](Poco::Data::Session& session) { session << sql, Poco::Data::Keywords::now; });
}

template <typename T> std::vector<T> queryColumn(fv_transfers::CDbConnection& db, const std::string& sql)
{
    std::vector<T> values;
    db.run("select from", "test", [&](Poco::Data::Session& session) {
        session << sql, Poco::Data::Keywords::into(values), Poco::Data::Keywords::now;
    });
    return values;
}

inline bool tableHasColumn(fv_transfers::CDbConnection& db, const std::string& table, const std::string& column)
{
    int found = 0;
    db.run("select from", "test", [&](Poco::Data::Session& session) {
        session << "SELECT COUNT(*) FROM pragma_table_info(?) WHERE name=?", Poco::Data::Keywords::bind(table),
            Poco::Data::Keywords::bind(column), Poco::Data::Keywords::into(found), Poco::Data::Keywords::now;
    });
    return found > 0;
}

inline std::int64_t countRows(fv_transfers::CDbConnection& db, const std::string& table)
{
    const auto values = queryColumn<Poco::Int64>(db, "SELECT COUNT(*) FROM " + table);
    return values.empty() ? -1 : values.front();
}

// A fresh database file per test, opened beside the table objects under test.
class DbFileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<fv_transfers::CDbConnection> db = openTestDb(dir.file("t.db"));
};

// Points the library's files (and so its log) at `dir`; `count` reads what was logged since `mark`.
class LogCapture {
public:
    explicit LogCapture(const TempDir& dir) : m_path(dir.file("fv_transfers.log"))
    {
        fv_transfers::CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(fv_transfers::utf8ToWide(dir.path()));
        fv_transfers::CFvTransfersLogger::destroyInstance();
        fv_transfers::CFvTransfersLogger::getInstance(); // stays on this file if the folder changes later
    }

    void mark() { m_start = readFile(m_path).size(); }
    std::string text() const { return readFile(m_path).substr(std::min(m_start, readFile(m_path).size())); }
    std::size_t count(const std::string& fragment) const
    {
        const std::string all = text();
        std::size_t n = 0;
        for (auto at = all.find(fragment); at != std::string::npos; at = all.find(fragment, at + fragment.size()))
            ++n;
        return n;
    }

private:
    std::string m_path;
    std::size_t m_start = 0;
};

} // namespace fv_test
