#include "db/DbConnection.h"
#include "transfers/db/DbTestSupport.h"

#include <Poco/Data/Extraction.h>

#include <gtest/gtest.h>

#include <string>

#include <sys/stat.h>

namespace {

unsigned modeOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(0, ::stat(path.c_str(), &info)) << path;
    return info.st_mode & 0777;
}

// The creation mask would otherwise decide the companions' rights; they must follow the file.
class OpenMask {
public:
    explicit OpenMask(mode_t mask) : m_previous(::umask(mask)) {}
    ~OpenMask() { ::umask(m_previous); }

private:
    const mode_t m_previous;
};

} // namespace

TEST(DbConnection, WritingOpenUsesTheWriteAheadLogWithOwnerOnlyCompanions)
{
    fv_test::TempDir dir;
    const std::string path = dir.file("t.db");
    const OpenMask mask(0);
    auto db = fv_test::openTestDb(path);
    ASSERT_TRUE(db->isOpen());
    ASSERT_FALSE(db->isReadOnly());

    EXPECT_EQ(std::vector<std::string>({"wal"}), fv_test::queryColumn<std::string>(*db, "PRAGMA journal_mode"));
    // 1 is NORMAL; the default of a fresh connection is FULL (2).
    EXPECT_EQ(std::vector<Poco::Int64>({1}), fv_test::queryColumn<Poco::Int64>(*db, "PRAGMA synchronous"));

    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TABLE t (v TEXT)"));
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO t VALUES ('token')"));
    EXPECT_EQ(0600u, modeOf(path));
    EXPECT_EQ(0600u, modeOf(path + "-wal"));
    EXPECT_EQ(0600u, modeOf(path + "-shm"));
}

TEST(DbConnection, EveryWritingOpenSetsTheSyncLevelAgain)
{
    fv_test::TempDir dir;
    const std::string path = dir.file("t.db");
    {
        auto first = fv_test::openTestDb(path);
        ASSERT_TRUE(fv_test::execSql(*first, "CREATE TABLE t (v TEXT)"));
    }
    // Two connections on one file, as two processes would have: both write, both read the rows.
    auto a = fv_test::openTestDb(path);
    auto b = fv_test::openTestDb(path);
    for (auto* db : {a.get(), b.get()}) {
        EXPECT_EQ(std::vector<std::string>({"wal"}), fv_test::queryColumn<std::string>(*db, "PRAGMA journal_mode"));
        EXPECT_EQ(std::vector<Poco::Int64>({1}), fv_test::queryColumn<Poco::Int64>(*db, "PRAGMA synchronous"));
    }
    ASSERT_TRUE(fv_test::execSql(*a, "INSERT INTO t VALUES ('a')"));
    ASSERT_TRUE(fv_test::execSql(*b, "INSERT INTO t VALUES ('b')"));
    EXPECT_EQ(2, fv_test::countRows(*a, "t"));
    EXPECT_EQ(2, fv_test::countRows(*b, "t"));
}
