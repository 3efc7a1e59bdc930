#include "db/DbDownloadGroupInfoAggregator.h"
#include "db/DownloadChannelsDbInfo.h"
#include "db/DownloadFilesDbInfo.h"
#include "transfers/db/DbTestSupport.h"

#include <Poco/Data/SQLite/Utility.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <sqlite3.h>

using fv_transfers::CDbDownloadGroupInfoAggregator;
using fv_transfers::CDownloadChannelsDbInfo;
using fv_transfers::CDownloadFilesDbInfo;
using fv_transfers::FileDownloadDetails;
using Params = std::map<std::string, std::string>;

using DownloadGroupsTable = fv_test::DbFileTest;
using DownloadFilesTable = fv_test::DbFileTest;

namespace {

const std::wstring kWidePath = L"/home/\u00fc/\u30d5\u30a1\u30a4\u30eb \U0001F600";

CDbDownloadGroupInfoAggregator::GroupInfo group(int id, std::shared_ptr<Params> params = nullptr)
{
    CDbDownloadGroupInfoAggregator::GroupInfo info;
    info.BucketUid = "bucket-" + std::to_string(id);
    info.BucketToken = "token-" + std::to_string(id);
    info.BucketType = "share";
    info.ExpirationDate = 1900000000000ull;
    info.GroupId = id;
    info.Paused = id % 2 == 0;
    info.DownloadPath = kWidePath;
    info.RetryCount = static_cast<std::uint32_t>(id) + 10;
    info.params = std::move(params);
    return info;
}

std::map<int, std::shared_ptr<Params>> paramsByGroup(CDbDownloadGroupInfoAggregator& groups)
{
    std::vector<CDbDownloadGroupInfoAggregator::GroupInfo> rows;
    EXPECT_TRUE(groups.selectAll(rows));
    std::map<int, std::shared_ptr<Params>> result;
    for (const auto& row : rows)
        result[row.GroupId] = row.params;
    return result;
}

FileDownloadDetails details(const std::string& id)
{
    FileDownloadDetails file;
    file.id = id;
    file.path = kWidePath + L"/" + fv_transfers::utf8ToWide(id);
    file.size = 6442450944ull; // 6 GiB
    file.modified = 4102444800000ull;
    file.md5Digest = "9e107d9d372bb6826bd81d3542a419d6";
    file.downloadDetails.url = "https://storage.example/" + id + "?sig=abc";
    file.downloadDetails.expires = 4102444900000ull;
    return file;
}

} // namespace

TEST_F(DownloadGroupsTable, GroupRowsAndParametersRoundTrip)
{
    struct Case {
        const char* name;
        std::shared_ptr<Params> params;
        std::shared_ptr<Params> expected;
    };
    const Case cases[] = {
        {"none", nullptr, nullptr},
        {"empty map", std::make_shared<Params>(), nullptr},
        {"two keys", std::make_shared<Params>(Params{{"b", "2"}, {"a", "1"}}),
         std::make_shared<Params>(Params{{"a", "1"}, {"b", "2"}})},
    };
    fv_test::LogCapture log(dir);
    for (const Case& c : cases) {
        auto db = fv_test::openTestDb(dir.file(std::string(c.name) + ".db"));
        CDbDownloadGroupInfoAggregator groups(db);
        log.mark();
        ASSERT_TRUE(groups.insert(group(3, c.params))) << c.name;
        EXPECT_EQ(0u, log.count("[Error]")) << c.name;

        std::vector<CDbDownloadGroupInfoAggregator::GroupInfo> rows;
        ASSERT_TRUE(groups.selectAll(rows));
        ASSERT_EQ(1u, rows.size()) << c.name;
        const auto expected = group(3);
        EXPECT_EQ(expected.BucketUid, rows[0].BucketUid);
        EXPECT_EQ(expected.BucketToken, rows[0].BucketToken);
        EXPECT_EQ(expected.BucketType, rows[0].BucketType);
        EXPECT_EQ(expected.ExpirationDate, rows[0].ExpirationDate);
        EXPECT_EQ(3, rows[0].GroupId);
        EXPECT_EQ(expected.Paused, rows[0].Paused);
        EXPECT_EQ(kWidePath, rows[0].DownloadPath);
        EXPECT_EQ(expected.RetryCount, rows[0].RetryCount);
        if (c.expected) {
            ASSERT_TRUE(rows[0].params) << c.name;
            EXPECT_EQ(*c.expected, *rows[0].params);
            EXPECT_EQ(std::vector<std::string>({"a", "b"}),
                      fv_test::queryColumn<std::string>(*db, "SELECT DataKey FROM GroupInfoParams ORDER BY rowid"));
        } else {
            EXPECT_FALSE(rows[0].params) << c.name;
        }
    }
}

TEST_F(DownloadGroupsTable, EachGroupKeepsItsOwnParameters)
{
    CDbDownloadGroupInfoAggregator groups(db);
    ASSERT_TRUE(groups.insert(group(1, std::make_shared<Params>(Params{{"auto", "1"}}))));
    ASSERT_TRUE(groups.insert(group(2, std::make_shared<Params>(Params{{"auto", "0"}, {"x", "y"}}))));
    ASSERT_TRUE(groups.insert(group(4)));

    auto params = paramsByGroup(groups);
    ASSERT_EQ(3u, params.size());
    ASSERT_TRUE(params[1] && params[2]);
    EXPECT_EQ((Params{{"auto", "1"}}), *params[1]);
    EXPECT_EQ((Params{{"auto", "0"}, {"x", "y"}}), *params[2]);
    EXPECT_NE(params[1], params[2]);
    EXPECT_FALSE(params[4]);
}

TEST_F(DownloadGroupsTable, RemovingAGroupRemovesItsParameters)
{
    CDbDownloadGroupInfoAggregator groups(db);
    ASSERT_TRUE(groups.insert(group(1, std::make_shared<Params>(Params{{"k", "v"}}))));
    ASSERT_TRUE(groups.insert(group(2, std::make_shared<Params>(Params{{"k", "w"}}))));

    ASSERT_TRUE(groups.removeByGroupId(1));
    auto params = paramsByGroup(groups);
    ASSERT_EQ(1u, params.count(2));
    EXPECT_EQ(0u, params.count(1));
    EXPECT_EQ(1, fv_test::countRows(*db, "GroupInfoParams"));
}

TEST_F(DownloadGroupsTable, NewGroupDoesNotInheritParametersLeftByAnOldOne)
{
    CDbDownloadGroupInfoAggregator groups(db);
    // Parameters of a group 5 whose row is gone, as an interrupted removal leaves them.
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO GroupInfoParams VALUES (5, 'k', 'stale'), (5, 'old', 'x')"));
    auto params = paramsByGroup(groups);
    EXPECT_TRUE(params.empty());

    ASSERT_TRUE(groups.insert(group(5, std::make_shared<Params>(Params{{"k", "fresh"}}))));
    params = paramsByGroup(groups);
    ASSERT_TRUE(params[5]);
    EXPECT_EQ((Params{{"k", "fresh"}}), *params[5]);

    ASSERT_TRUE(groups.removeByGroupId(5));
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO GroupInfoParams VALUES (5, 'k', 'stale')"));
    ASSERT_TRUE(groups.insert(group(5)));
    EXPECT_FALSE(paramsByGroup(groups)[5]);
}

TEST_F(DownloadGroupsTable, OrphanParametersAreRemovedOnRequest)
{
    CDbDownloadGroupInfoAggregator groups(db);
    ASSERT_TRUE(groups.insert(group(1, std::make_shared<Params>(Params{{"k", "v"}}))));
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO GroupInfoParams VALUES (5, 'a', '1'), (5, 'b', '2'), (6, 'a', '')"));

    std::size_t removed = 0;
    ASSERT_TRUE(groups.m_groupInfoParamsDbInfo.removeOrphans(removed));
    EXPECT_EQ(3u, removed);
    EXPECT_EQ(std::vector<Poco::Int64>({1}),
              fv_test::queryColumn<Poco::Int64>(*db, "SELECT GroupId FROM GroupInfoParams"));
}

TEST_F(DownloadGroupsTable, GroupAndParametersAreStoredTogetherOrNotAtAll)
{
    CDbDownloadGroupInfoAggregator groups(db);
    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TRIGGER refuse BEFORE INSERT ON GroupInfoParams WHEN NEW.DataKey='bad' "
                                      "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    EXPECT_FALSE(groups.insert(group(1, std::make_shared<Params>(Params{{"a", "1"}, {"bad", "2"}}))));
    EXPECT_EQ(0, fv_test::countRows(*db, "DownloadGroupsDictionary"));
    EXPECT_EQ(0, fv_test::countRows(*db, "GroupInfoParams"));

    // A stored group id is refused as a whole: its row and parameters stay as they were.
    ASSERT_TRUE(groups.insert(group(2, std::make_shared<Params>(Params{{"a", "kept"}}))));
    auto again = group(2, std::make_shared<Params>(Params{{"a", "other"}}));
    again.BucketUid = "other";
    EXPECT_FALSE(groups.insert(again));
    std::vector<CDbDownloadGroupInfoAggregator::GroupInfo> rows;
    ASSERT_TRUE(groups.selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("bucket-2", rows[0].BucketUid);
    EXPECT_EQ((Params{{"a", "kept"}}), *rows[0].params);
}

TEST_F(DownloadGroupsTable, UpdatesChangeOnlyTheNamedGroup)
{
    CDbDownloadGroupInfoAggregator groups(db);
    ASSERT_TRUE(groups.insert(group(1)));
    ASSERT_TRUE(groups.insert(group(3)));
    ASSERT_TRUE(groups.updatePaused(3, true));
    ASSERT_TRUE(groups.updateRetryCount(3, 0));

    std::vector<CDbDownloadGroupInfoAggregator::GroupInfo> rows;
    ASSERT_TRUE(groups.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_FALSE(rows[0].Paused);
    EXPECT_EQ(11u, rows[0].RetryCount);
    EXPECT_TRUE(rows[1].Paused);
    EXPECT_EQ(0u, rows[1].RetryCount);
}

TEST_F(DownloadGroupsTable, MaximumStoredGroupIdIsZeroWhenEmpty)
{
    CDbDownloadGroupInfoAggregator groups(db);
    std::int32_t maxId = -1;
    ASSERT_TRUE(groups.selectMaxGroupId(maxId));
    EXPECT_EQ(0, maxId);

    for (int id : {3, 7, 5})
        ASSERT_TRUE(groups.insert(group(id)));
    ASSERT_TRUE(groups.selectMaxGroupId(maxId));
    EXPECT_EQ(7, maxId);
    ASSERT_TRUE(groups.removeByGroupId(7));
    ASSERT_TRUE(groups.selectMaxGroupId(maxId));
    EXPECT_EQ(5, maxId);

    // A failed read is told apart from an empty table and leaves the value alone.
    db->close();
    maxId = 42;
    EXPECT_FALSE(groups.selectMaxGroupId(maxId));
    EXPECT_EQ(42, maxId);
}

TEST_F(DownloadFilesTable, RoundTripsEveryFieldThroughTheTableOrder)
{
    CDownloadFilesDbInfo files(db);
    const auto file = details("d1");
    const std::wstring tmpName = kWidePath + L"/.d1.part";
    ASSERT_TRUE(files.insert(file, 12, tmpName));

    std::vector<CDownloadFilesDbInfo::FileInfo> rows;
    ASSERT_TRUE(files.selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    const auto& got = rows[0];
    EXPECT_EQ(file.id, got.details.id);
    EXPECT_EQ(file.path, got.details.path);
    EXPECT_EQ(file.size, got.details.size);
    EXPECT_EQ(file.modified, got.details.modified);
    EXPECT_EQ(file.md5Digest, got.details.md5Digest);
    EXPECT_EQ(file.downloadDetails.url, got.details.downloadDetails.url);
    EXPECT_EQ(file.downloadDetails.expires, got.details.downloadDetails.expires);
    EXPECT_EQ(12, got.ParentGroupId);
    EXPECT_EQ(tmpName, got.TmpFileName);

    // The URL and its expiry are the last two columns of the table.
    EXPECT_EQ(std::vector<std::string>({file.downloadDetails.url}),
              fv_test::queryColumn<std::string>(*db, "SELECT DirectUrl FROM DownloadFilesDictionary"));
    EXPECT_EQ(std::vector<Poco::Int64>({12}),
              fv_test::queryColumn<Poco::Int64>(*db, "SELECT ParentGroupId FROM DownloadFilesDictionary"));
    EXPECT_EQ(std::vector<std::string>({"FileUid", "FilePath", "FileSize", "ModificationDate", "MD5digest",
                                        "ParentGroupId", "TmpFileName", "DirectUrl", "UrlExpires"}),
              fv_test::queryColumn<std::string>(*db, "SELECT name FROM pragma_table_info('DownloadFilesDictionary') "
                                                     "ORDER BY cid"));
}

TEST_F(DownloadFilesTable, NullColumnsReadAsDefaults)
{
    CDownloadFilesDbInfo files(db);
    CDownloadChannelsDbInfo channels(db);
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO DownloadFilesDictionary (FileUid) VALUES ('bare')"));
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO DownloadChannelsDictionary (FileUid) VALUES ('bare')"));

    std::vector<CDownloadFilesDbInfo::FileInfo> fileRows;
    ASSERT_TRUE(files.selectAll(fileRows));
    ASSERT_EQ(1u, fileRows.size());
    EXPECT_EQ("bare", fileRows[0].details.id);
    EXPECT_TRUE(fileRows[0].details.path.empty() && fileRows[0].details.md5Digest.empty() &&
                fileRows[0].details.downloadDetails.url.empty() && fileRows[0].TmpFileName.empty());
    EXPECT_EQ(0u,
              fileRows[0].details.size + fileRows[0].details.modified + fileRows[0].details.downloadDetails.expires);
    EXPECT_EQ(0, fileRows[0].ParentGroupId);

    std::vector<CDownloadChannelsDbInfo::ChannelInfo> channelRows;
    ASSERT_TRUE(channels.selectAll(channelRows));
    ASSERT_EQ(1u, channelRows.size());
    EXPECT_EQ(0u, channelRows[0].Offset + channelRows[0].BytesToTransfer + channelRows[0].State);
    EXPECT_TRUE(channelRows[0].Md5.empty());
}

TEST_F(DownloadFilesTable, UpdatesChangeOnlyExistingRows)
{
    CDownloadFilesDbInfo files(db);
    CDownloadChannelsDbInfo channels(db);
    ASSERT_TRUE(files.insert(details("a"), 1, L"a.part"));
    ASSERT_TRUE(files.insert(details("b"), 1, L"b.part"));
    ASSERT_TRUE(channels.insert({"a", 0, 100, 1, "m0"}));
    ASSERT_TRUE(channels.insert({"a", 100, 100, 1, "m1"}));

    EXPECT_TRUE(files.updateDirectUrl("a", "https://new", 99));
    EXPECT_TRUE(files.updateDirectUrl("missing", "https://x", 1));
    EXPECT_TRUE(channels.updateState("a", 100, 3));
    EXPECT_TRUE(channels.updateState("missing", 0, 3));

    std::vector<CDownloadFilesDbInfo::FileInfo> fileRows;
    ASSERT_TRUE(files.selectAll(fileRows));
    ASSERT_EQ(2u, fileRows.size());
    EXPECT_EQ("https://new", fileRows[0].details.downloadDetails.url);
    EXPECT_EQ(99u, fileRows[0].details.downloadDetails.expires);
    EXPECT_EQ(details("b").downloadDetails.url, fileRows[1].details.downloadDetails.url);

    std::vector<CDownloadChannelsDbInfo::ChannelInfo> channelRows;
    ASSERT_TRUE(channels.selectAll(channelRows));
    ASSERT_EQ(2u, channelRows.size());
    EXPECT_EQ(1u, channelRows[0].State);
    EXPECT_EQ(3u, channelRows[1].State);
}

TEST_F(DownloadFilesTable, InsertingAStoredKeyReplacesTheRow)
{
    CDownloadFilesDbInfo files(db);
    CDownloadChannelsDbInfo channels(db);
    ASSERT_TRUE(files.insert(details("a"), 1, L"old.part"));
    auto newer = details("a");
    newer.downloadDetails.url = "https://newer";
    ASSERT_TRUE(files.insert(newer, 2, L"new.part"));
    ASSERT_TRUE(channels.insert({"a", 0, 100, 1, "old"}));
    ASSERT_TRUE(channels.insert({"a", 0, 50, 4, "new"}));

    std::vector<CDownloadFilesDbInfo::FileInfo> fileRows;
    ASSERT_TRUE(files.selectAll(fileRows));
    ASSERT_EQ(1u, fileRows.size());
    EXPECT_EQ(2, fileRows[0].ParentGroupId);
    EXPECT_EQ(L"new.part", fileRows[0].TmpFileName);
    EXPECT_EQ("https://newer", fileRows[0].details.downloadDetails.url);
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> channelRows;
    ASSERT_TRUE(channels.selectAll(channelRows));
    ASSERT_EQ(1u, channelRows.size());
    EXPECT_EQ("new", channelRows[0].Md5);
    EXPECT_EQ(50u, channelRows[0].BytesToTransfer);
}

TEST_F(DownloadFilesTable, RemovalByIdsDeletesOnlyTheNamedRowsOfBothTables)
{
    const std::vector<std::string> all = {"plain", "q\"uote", "a'pos", "pa)ren;", "FileUid", "keep"};
    const std::set<std::string> removed = {"q\"uote", "a'pos", "pa)ren;", "FileUid", "never-stored"};
    CDownloadFilesDbInfo files(db);
    CDownloadChannelsDbInfo channels(db);
    for (const auto& id : all) {
        ASSERT_TRUE(files.insert(details(id), 1, L"t"));
        ASSERT_TRUE(channels.insert({id, 0, 1, 1, ""}));
        ASSERT_TRUE(channels.insert({id, 1, 1, 1, ""}));
    }
    EXPECT_TRUE(files.removeByFileUids({}));
    EXPECT_TRUE(channels.removeByFileUids({}));
    EXPECT_TRUE(files.removeByFileUids(removed));
    EXPECT_TRUE(channels.removeByFileUids(removed));
    EXPECT_TRUE(files.removeByFileUid("plain"));
    EXPECT_TRUE(channels.removeByFileUid("plain"));

    EXPECT_EQ(std::vector<std::string>({"keep"}),
              fv_test::queryColumn<std::string>(*db, "SELECT FileUid FROM DownloadFilesDictionary"));
    EXPECT_EQ(std::vector<std::string>({"keep", "keep"}),
              fv_test::queryColumn<std::string>(*db, "SELECT FileUid FROM DownloadChannelsDictionary"));
}

TEST_F(DownloadFilesTable, RowsOfTheLayoutWithoutCheckpointGainItReadingZero)
{
    // The layout files written before checkpoints were stored hold.
    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TABLE DownloadChannelsDictionary (FileUid VARCHAR(40), "
                                      "Offset UINTEGER64, BytesToTransfer UINTEGER64, State INTEGER8, "
                                      "Md5 VARCHAR(40), PRIMARY KEY(FileUid, Offset))"));
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO DownloadChannelsDictionary VALUES "
                                      "('a', 0, 100, 1, 'm0'), ('a', 6442450944, 7, 4, 'm1')"));

    CDownloadChannelsDbInfo channels(db);
    EXPECT_TRUE(fv_test::tableHasColumn(*db, "DownloadChannelsDictionary", "BytesWritten"));
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("m0", rows[0].Md5);
    EXPECT_EQ(100u, rows[0].BytesToTransfer);
    EXPECT_EQ(6442450944u, rows[1].Offset);
    EXPECT_EQ(4u, rows[1].State);
    EXPECT_EQ(0u, rows[0].BytesWritten + rows[1].BytesWritten);

    // Opening the table again leaves the converted layout as it is.
    CDownloadChannelsDbInfo again(db);
    EXPECT_TRUE(again.updateCheckpoint("a", 6442450944u, 5));
    ASSERT_TRUE(again.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(5u, rows[1].BytesWritten);
}

TEST_F(DownloadFilesTable, CheckpointIsStoredForTheNamedChannelOnly)
{
    CDownloadChannelsDbInfo channels(db);
    ASSERT_TRUE(channels.insert({"a", 0, 100, 1, "m0"}));
    ASSERT_TRUE(channels.insert({"a", 100, 6442450944u, 1, "m1", 3}));
    ASSERT_TRUE(channels.insert({"a'--", 0, 100, 1, "m2"}));

    const std::uint64_t beyondFourGiB = 5368709120u;
    EXPECT_TRUE(channels.updateCheckpoint("a", 100, beyondFourGiB));
    EXPECT_TRUE(channels.updateCheckpoint("a'--", 0, 64));
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ(0u, rows[0].BytesWritten);
    EXPECT_EQ(beyondFourGiB, rows[1].BytesWritten);
    EXPECT_EQ(64u, rows[2].BytesWritten);
    EXPECT_EQ(1u, rows[1].State); // the rest of the row is untouched
    EXPECT_EQ("m1", rows[1].Md5);

    // Back to 0 before a range restarts at its first byte.
    EXPECT_TRUE(channels.updateCheckpoint("a", 100, 0));
    ASSERT_TRUE(channels.selectAll(rows));
    EXPECT_EQ(0u, rows[1].BytesWritten);
}

TEST_F(DownloadFilesTable, CheckpointThatIsNotStoredReportsFailure)
{
    CDownloadChannelsDbInfo channels(db);
    ASSERT_TRUE(channels.insert({"a", 0, 100, 1, "m0", 7}));
    EXPECT_FALSE(channels.updateCheckpoint("a", 1, 50));       // no channel at that offset
    EXPECT_FALSE(channels.updateCheckpoint("missing", 0, 50)); // no such file
    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TRIGGER refuse BEFORE UPDATE OF BytesWritten ON "
                                      "DownloadChannelsDictionary BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    EXPECT_FALSE(channels.updateCheckpoint("a", 0, 50));
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(7u, rows[0].BytesWritten);
}

namespace {

std::vector<CDownloadChannelsDbInfo::ChannelInfo> plan(const std::string& fileUid, int ranges)
{
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> channels;
    for (int i = 0; i < ranges; ++i) {
        const std::uint64_t offset = static_cast<std::uint64_t>(i) * 5242880u;
        channels.push_back({fileUid, offset, 5242880u, 1, "md5-" + std::to_string(i), static_cast<std::uint64_t>(i)});
    }
    return channels;
}

int commitCount(void* counter)
{
    ++*static_cast<int*>(counter);
    return 0;
}

} // namespace

TEST_F(DownloadFilesTable, ChannelPlanIsOneCommitReplacingTheFilesRanges)
{
    CDownloadChannelsDbInfo channels(db);
    ASSERT_TRUE(channels.insert({"f", 0, 100, 3, "stale"}));
    ASSERT_TRUE(channels.insert({"f", 7, 100, 3, "stale"}));
    ASSERT_TRUE(channels.insert({"other", 0, 100, 2, "kept", 9}));

    int commits = 0;
    ASSERT_TRUE(db->run("hook", "test", [&](Poco::Data::Session& session) {
        ::sqlite3_commit_hook(Poco::Data::SQLite::Utility::dbHandle(session), &commitCount, &commits);
    }));
    auto ranges = plan("f", 1000);
    ranges[1].FileUid = "ignored"; // the plan's file decides
    EXPECT_TRUE(channels.insertPlan("f", ranges));
    db->run("unhook", "test", [&](Poco::Data::Session& session) {
        ::sqlite3_commit_hook(Poco::Data::SQLite::Utility::dbHandle(session), nullptr, nullptr);
    });
    EXPECT_EQ(1, commits);

    std::vector<CDownloadChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(1001u, rows.size());
    EXPECT_EQ("other", rows[0].FileUid);
    EXPECT_EQ(9u, rows[0].BytesWritten);
    for (std::size_t i = 0; i < 1000; ++i) {
        const auto& row = rows[i + 1];
        EXPECT_EQ("f", row.FileUid);
        EXPECT_EQ(ranges[i].Offset, row.Offset);
        EXPECT_EQ(ranges[i].BytesToTransfer, row.BytesToTransfer);
        EXPECT_EQ(1u, row.State);
        EXPECT_EQ(ranges[i].Md5, row.Md5);
        EXPECT_EQ(i, row.BytesWritten);
    }

    // An empty plan only drops the stored one.
    EXPECT_TRUE(channels.insertPlan("f", {}));
    EXPECT_EQ(1, fv_test::countRows(*db, "DownloadChannelsDictionary"));
}

TEST_F(DownloadFilesTable, ChannelPlanIsStoredWholeOrNotAtAll)
{
    CDownloadChannelsDbInfo channels(db);
    ASSERT_TRUE(channels.insertPlan("f", plan("f", 2)));
    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TRIGGER refuse BEFORE INSERT ON DownloadChannelsDictionary "
                                      "WHEN NEW.Md5='md5-3' BEGIN SELECT RAISE(ABORT, 'refused'); END"));

    EXPECT_FALSE(channels.insertPlan("f", plan("f", 5)));
    // Neither a part of the new plan nor a gap in the old one.
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(0u, rows[0].Offset);
    EXPECT_EQ(5242880u, rows[1].Offset);
}
