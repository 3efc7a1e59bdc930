#include "db/ChannelsDbInfo.h"
#include "db/FilesDbInfo.h"
#include "db/GroupsDbInfo.h"
#include "transfers/db/DbTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

using fv_transfers::CChannelsDbInfo;
using fv_transfers::CFilesDbInfo;
using fv_transfers::CGroupsDbInfo;
using fv_transfers::UploadFileDesc;

using UploadGroupsTable = fv_test::DbFileTest;
using UploadFilesTable = fv_test::DbFileTest;
using UploadChannelsTable = fv_test::DbFileTest;

namespace {

// "/home/ü/ファイル 😀.txt": two-byte, three-byte and a four-byte (outside the BMP) character.
const std::wstring kWidePath = L"file:///home/\u00fc/\u30d5\u30a1\u30a4\u30eb \U0001F600.txt";
const std::string kUtf8Path =
    "file:///home/\xc3\xbc/\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab \xf0\x9f\x98\x80.txt";

UploadFileDesc fileDesc(const std::string& uid, const std::wstring& url = L"file:///tmp/a")
{
    UploadFileDesc desc;
    desc.fileUid = uid;
    desc.fileUrl = url;
    return desc;
}

std::set<std::string> storedFileUids(CFilesDbInfo& files)
{
    std::vector<CFilesDbInfo::FileInfo> rows;
    EXPECT_TRUE(files.selectAll(rows));
    std::set<std::string> ids;
    for (const auto& row : rows)
        ids.insert(row.FileUid);
    return ids;
}

CChannelsDbInfo::ChannelInfo channel(const std::string& uid, std::uint64_t offset,
                                     std::vector<std::pair<std::string, std::string>> headers)
{
    CChannelsDbInfo::ChannelInfo info;
    info.FileUid = uid;
    info.Url = "https://storage.example/" + uid + "?part=" + std::to_string(offset);
    info.LocalOffset = offset;
    info.BytesToUpload = 5368709120ull + offset; // above 4 GiB
    info.State = 1;
    info.headers = std::move(headers);
    info.UrlExpires = 8589934592 + static_cast<std::int64_t>(offset); // after 2038
    return info;
}

} // namespace

TEST_F(UploadGroupsTable, RoundTripsEveryColumnInTableOrder)
{
    CGroupsDbInfo groups(db);

    CGroupsDbInfo::GroupInfo first;
    first.BucketUid = "bucket-1";
    first.BucketToken = "token-1";
    first.BucketType = "message";
    first.ExpirationDate = 0xFFFFFFFFFFull;
    first.GroupId = 7;
    first.Paused = true;
    first.Marked = false;
    first.RetryCount = 4000000000u;
    CGroupsDbInfo::GroupInfo second = first;
    second.GroupId = 8;
    second.Paused = false;
    second.Marked = true;
    second.RetryCount = 3;
    ASSERT_TRUE(groups.insert(first));
    ASSERT_TRUE(groups.insert(second));

    std::vector<CGroupsDbInfo::GroupInfo> rows;
    ASSERT_TRUE(groups.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    for (const auto* expected : {&first, &second}) {
        const auto& got = rows[expected == &first ? 0 : 1];
        EXPECT_EQ(expected->BucketUid, got.BucketUid);
        EXPECT_EQ(expected->BucketToken, got.BucketToken);
        EXPECT_EQ(expected->BucketType, got.BucketType);
        EXPECT_EQ(expected->ExpirationDate, got.ExpirationDate);
        EXPECT_EQ(expected->GroupId, got.GroupId);
        EXPECT_EQ(expected->Paused, got.Paused);
        EXPECT_EQ(expected->Marked, got.Marked);
        EXPECT_EQ(expected->RetryCount, got.RetryCount);
    }
    // Marked is the seventh column and RetryCount the eighth, whatever the field order.
    EXPECT_EQ(std::vector<std::string>({"BucketUid", "BucketToken", "BucketType", "ExpirationDate", "GroupId", "Paused",
                                        "Marked", "RetryCount"}),
              fv_test::queryColumn<std::string>(*db, "SELECT name FROM pragma_table_info('GroupsDictionary') "
                                                     "ORDER BY cid"));
    EXPECT_EQ(std::vector<Poco::Int64>({1, 3}),
              fv_test::queryColumn<Poco::Int64>(*db, "SELECT Marked FROM GroupsDictionary WHERE GroupId=8 UNION ALL "
                                                     "SELECT RetryCount FROM GroupsDictionary WHERE GroupId=8"));
}

TEST_F(UploadGroupsTable, DuplicateGroupIdFailsAndKeepsStoredRow)
{
    CGroupsDbInfo groups(db);
    CGroupsDbInfo::GroupInfo group;
    group.GroupId = 1;
    group.BucketUid = "kept";
    ASSERT_TRUE(groups.insert(group));
    group.BucketUid = "other";
    EXPECT_FALSE(groups.insert(group));

    std::vector<CGroupsDbInfo::GroupInfo> rows;
    ASSERT_TRUE(groups.selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("kept", rows[0].BucketUid);
}

TEST_F(UploadGroupsTable, UpdatesAndRemovalTouchOnlyTheNamedGroup)
{
    CGroupsDbInfo groups(db);
    for (int id : {1, 2, 3}) {
        CGroupsDbInfo::GroupInfo group;
        group.GroupId = id;
        ASSERT_TRUE(groups.insert(group));
    }
    EXPECT_TRUE(groups.updatePaused(2, true));
    EXPECT_TRUE(groups.updateMarked(2, true));
    EXPECT_TRUE(groups.updateRetryCount(2, 9));
    EXPECT_TRUE(groups.removeByGroupId(3));
    EXPECT_TRUE(groups.updatePaused(42, true)); // no such group: nothing changes, no failure

    std::vector<CGroupsDbInfo::GroupInfo> rows;
    ASSERT_TRUE(groups.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(1, rows[0].GroupId);
    EXPECT_FALSE(rows[0].Paused || rows[0].Marked || rows[0].RetryCount != 0);
    EXPECT_EQ(2, rows[1].GroupId);
    EXPECT_TRUE(rows[1].Paused && rows[1].Marked && rows[1].RetryCount == 9);
}

TEST_F(UploadFilesTable, RoundTripsNonAsciiPathsAndStoresUtf8)
{
    CFilesDbInfo files(db);
    ASSERT_TRUE(files.insert(fileDesc("f1", kWidePath), 3));

    std::vector<CFilesDbInfo::FileInfo> rows;
    ASSERT_TRUE(files.selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("f1", rows[0].FileUid);
    EXPECT_EQ(kWidePath, rows[0].FileLocalUri);
    EXPECT_EQ(3, rows[0].ParentGroupId);
    EXPECT_EQ("", rows[0].UploadId);
    EXPECT_FALSE(rows[0].Completed);
    EXPECT_EQ(0, rows[0].LastModified);
    EXPECT_EQ(std::vector<std::string>({kUtf8Path}),
              fv_test::queryColumn<std::string>(*db, "SELECT FileLocalUri FROM FilesDictionary"));

    ASSERT_TRUE(files.updateUploadId("f1", "multipart-9"));
    ASSERT_TRUE(files.setCompleted("f1"));
    ASSERT_TRUE(files.selectAll(rows));
    EXPECT_EQ("multipart-9", rows[0].UploadId);
    EXPECT_TRUE(rows[0].Completed);
}

TEST_F(UploadFilesTable, LastModifiedKeepsSixtyFourBits)
{
    CFilesDbInfo files(db);
    ASSERT_TRUE(files.insert(fileDesc("f"), 1));
    // Up to 2038, just after it (2^31), far beyond (2^33), and before 1970.
    for (std::int64_t value : {std::int64_t(0), std::int64_t(2147483647), std::int64_t(2147483648),
                               std::int64_t(8589934592), std::int64_t(-1)}) {
        ASSERT_TRUE(files.updateLastModified("f", value));
        std::int64_t read = 12345;
        ASSERT_TRUE(files.getLastModified("f", read));
        EXPECT_EQ(value, read);
        std::vector<CFilesDbInfo::FileInfo> rows;
        ASSERT_TRUE(files.selectAll(rows));
        EXPECT_EQ(value, rows.at(0).LastModified);
    }
}

TEST_F(UploadFilesTable, MissingRowAndFailedReadAreDistinguishable)
{
    CFilesDbInfo files(db);
    ASSERT_TRUE(files.insert(fileDesc("present"), 1));
    ASSERT_TRUE(files.updateLastModified("present", 77));

    bool present = true;
    std::int64_t lastModified = 5;
    EXPECT_TRUE(files.exists("absent", present));
    EXPECT_FALSE(present);
    EXPECT_TRUE(files.getLastModified("absent", lastModified));
    EXPECT_EQ(0, lastModified);
    EXPECT_TRUE(files.exists("present", present));
    EXPECT_TRUE(present);

    db->close();
    present = true;
    lastModified = 5;
    EXPECT_FALSE(files.exists("present", present));
    EXPECT_FALSE(files.getLastModified("present", lastModified));
    EXPECT_EQ(5, lastModified);
    std::vector<CFilesDbInfo::FileInfo> rows(1);
    EXPECT_FALSE(files.selectAll(rows));
    EXPECT_TRUE(rows.empty());
    EXPECT_FALSE(files.insert(fileDesc("new"), 1, 10, 20));
    EXPECT_FALSE(files.updateLastModified("present", 1));
    EXPECT_FALSE(files.updateSizeAndLastModified("present", 1, 1));
}

TEST_F(UploadFilesTable, SizeAndModificationTimeRoundTrip)
{
    struct Case {
        std::int64_t size;
        std::int64_t lastModified;
    };
    // Empty, one byte, above 4 GiB and unknown sizes; times before 1970 and after 2038.
    const Case cases[] = {{0, 1700000000}, {1, -1}, {6442450944, 8589934592}, {CFilesDbInfo::kUnknownFileSize, 0}};
    CFilesDbInfo files(db);
    for (const Case& c : cases) {
        ASSERT_TRUE(files.insert(fileDesc("inserted"), 1, c.size, c.lastModified));
        ASSERT_TRUE(files.insert(fileDesc("updated"), 1));
        ASSERT_TRUE(files.updateSizeAndLastModified("updated", c.size, c.lastModified));

        std::vector<CFilesDbInfo::FileInfo> rows;
        ASSERT_TRUE(files.selectAll(rows));
        ASSERT_EQ(2u, rows.size());
        for (const auto& row : rows) {
            EXPECT_EQ(c.size, row.FileSize) << row.FileUid;
            EXPECT_EQ(c.lastModified, row.LastModified) << row.FileUid;
        }
        std::int64_t lastModified = 0;
        ASSERT_TRUE(files.getLastModified("inserted", lastModified));
        EXPECT_EQ(c.lastModified, lastModified);
    }
}

TEST_F(UploadFilesTable, SizeUpdateOfAMissingFileFailsAndAddsNoRow)
{
    CFilesDbInfo files(db);
    ASSERT_TRUE(files.insert(fileDesc("f"), 1, 10, 20));
    EXPECT_FALSE(files.updateSizeAndLastModified("missing", 1, 2));
    EXPECT_FALSE(files.updateSizeAndLastModified("f\" OR 1=1 --", 1, 2));

    std::vector<CFilesDbInfo::FileInfo> rows;
    ASSERT_TRUE(files.selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(10, rows[0].FileSize);
    EXPECT_EQ(20, rows[0].LastModified);
}

TEST_F(UploadFilesTable, RowsOfTheLayoutWithoutSizeGainItReadingUnknown)
{
    // The layout files written before sizes were stored hold.
    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TABLE FilesDictionary (FileUid VARCHAR(40) PRIMARY KEY, "
                                      "FileLocalUri VARCHAR, ParentGroupId INTEGER, UploadId VARCHAR, "
                                      "Completed BOOLEAN, LastModified INTEGER)"));
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO FilesDictionary VALUES "
                                      "('a', 'file:///a', 3, 'up-1', 0, 1700000000), ('b', 'file:///b', 4, '', 1, 0)"));

    CFilesDbInfo files(db);
    EXPECT_TRUE(fv_test::tableHasColumn(*db, "FilesDictionary", "FileSize"));
    std::vector<CFilesDbInfo::FileInfo> rows;
    ASSERT_TRUE(files.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(L"file:///a", rows[0].FileLocalUri);
    EXPECT_EQ(3, rows[0].ParentGroupId);
    EXPECT_EQ("up-1", rows[0].UploadId);
    EXPECT_EQ(1700000000, rows[0].LastModified); // still seconds
    EXPECT_TRUE(rows[1].Completed);
    for (const auto& row : rows)
        EXPECT_EQ(CFilesDbInfo::kUnknownFileSize, row.FileSize) << row.FileUid;

    // Opening the table again leaves the converted layout as it is.
    CFilesDbInfo again(db);
    EXPECT_TRUE(again.updateSizeAndLastModified("a", 5, 1700000001));
    ASSERT_TRUE(again.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(5, rows[0].FileSize);
    EXPECT_EQ("up-1", rows[0].UploadId);
}

TEST_F(UploadFilesTable, InsertingAStoredFileReplacesItsRow)
{
    CFilesDbInfo files(db);
    ASSERT_TRUE(files.insert(fileDesc("f", L"file:///old"), 1));
    ASSERT_TRUE(files.updateUploadId("f", "stale-upload"));
    ASSERT_TRUE(files.insert(fileDesc("f", L"file:///new"), 2));

    std::vector<CFilesDbInfo::FileInfo> rows;
    ASSERT_TRUE(files.selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(2, rows[0].ParentGroupId);
    EXPECT_EQ(L"file:///new", rows[0].FileLocalUri);
    EXPECT_EQ("", rows[0].UploadId);
}

TEST_F(UploadFilesTable, RemovalByIdsDeletesOnlyTheNamedRows)
{
    // Ids come from the web application and the service: none may be read as SQL.
    const std::vector<std::string> all = {"plain",      "with\"quote", "with'apostrophe", "close)paren",
                                          "semi;colon", "FileUid",     "x\") OR 1=1 --",  "keep"};
    struct Case {
        std::set<std::string> remove;
    };
    const Case cases[] = {
        {{}},
        {{"plain"}},
        {{"FileUid"}},
        {{"with\"quote", "with'apostrophe", "close)paren", "semi;colon"}},
        {{"x\") OR 1=1 --", "not-stored"}},
    };
    for (const Case& c : cases) {
        CFilesDbInfo files(db);
        for (const auto& id : all)
            ASSERT_TRUE(files.insert(fileDesc(id), 1));

        EXPECT_TRUE(files.removeByFileUids(c.remove));
        std::set<std::string> expected(all.begin(), all.end());
        for (const auto& id : c.remove)
            expected.erase(id);
        EXPECT_EQ(expected, storedFileUids(files)) << "removing " << c.remove.size() << " ids";
    }
}

TEST_F(UploadFilesTable, RemovalByIdsIsAllOrNothing)
{
    CFilesDbInfo files(db);
    for (const char* id : {"a", "b", "c"})
        ASSERT_TRUE(files.insert(fileDesc(id), 1));
    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TRIGGER refuse BEFORE DELETE ON FilesDictionary WHEN OLD.FileUid='b' "
                                      "BEGIN SELECT RAISE(ABORT, 'refused'); END"));

    EXPECT_FALSE(files.removeByFileUids({"a", "b"}));
    EXPECT_EQ(std::set<std::string>({"a", "b", "c"}), storedFileUids(files));
}

TEST_F(UploadChannelsTable, RoundTripsChannelsWithTheirHeadersInOrder)
{
    CChannelsDbInfo channels(db);
    std::vector<CChannelsDbInfo::ChannelInfo> stored = {
        channel("f1", 0, {}),
        channel("f1", 5242880, {{"Content-MD5", "abc"}}),
        channel("f2", 0, {{"x-store-meta-b", "2"}, {"Authorization", "secret"}, {"x-store-meta-a", "1"}}),
        // A repeated name keeps both values, in order.
        channel("f3", 0, {{"X-Tag", "one"}, {"Content-Type", "a/b"}, {"X-Tag", "two"}}),
        channel("f4", 0, {}),
    };
    stored.back().UrlExpires = CChannelsDbInfo::kUnknownUrlExpiry;
    for (const auto& c : stored)
        ASSERT_TRUE(channels.insert(c));

    std::vector<CChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(stored.size(), rows.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(stored[i].FileUid, rows[i].FileUid);
        EXPECT_EQ(stored[i].Url, rows[i].Url);
        EXPECT_EQ(stored[i].LocalOffset, rows[i].LocalOffset);
        EXPECT_EQ(stored[i].BytesToUpload, rows[i].BytesToUpload);
        EXPECT_EQ(stored[i].State, rows[i].State);
        EXPECT_EQ(stored[i].headers, rows[i].headers) << "channel " << i;
        EXPECT_EQ(stored[i].UrlExpires, rows[i].UrlExpires) << "channel " << i;
    }
    EXPECT_EQ(9, fv_test::countRows(*db, "ChannelsDictionary"));
}

TEST_F(UploadChannelsTable, HeaderWithoutNameIsStoredButNotReturned)
{
    CChannelsDbInfo channels(db);
    ASSERT_TRUE(channels.insert(channel("f", 0, {{"", "orphan value"}, {"A", "1"}})));

    std::vector<CChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"A", "1"}}), rows[0].headers);
    EXPECT_EQ(2, fv_test::countRows(*db, "ChannelsDictionary"));
}

TEST_F(UploadChannelsTable, UpdateStateChangesEveryRowOfThatChannelOnly)
{
    CChannelsDbInfo channels(db);
    ASSERT_TRUE(channels.insert(channel("f", 0, {{"A", "1"}, {"B", "2"}, {"C", "3"}})));
    ASSERT_TRUE(channels.insert(channel("f", 100, {{"A", "1"}})));
    ASSERT_TRUE(channels.insert(channel("g", 0, {{"A", "1"}})));

    ASSERT_TRUE(channels.updateState("f", 0, 4));
    EXPECT_TRUE(channels.updateState("missing", 0, 4));
    EXPECT_EQ(std::vector<Poco::Int64>({4, 4, 4, 1, 1}),
              fv_test::queryColumn<Poco::Int64>(*db, "SELECT State FROM ChannelsDictionary "
                                                     "ORDER BY FileUid, LocalOffset, HeaderIndex"));
}

TEST_F(UploadChannelsTable, UrlRefreshChangesEveryRowOfThatChannelOnly)
{
    CChannelsDbInfo channels(db);
    ASSERT_TRUE(channels.insert(channel("f", 0, {{"A", "1"}, {"B", "2"}, {"C", "3"}})));
    ASSERT_TRUE(channels.insert(channel("f", 100, {{"A", "1"}})));
    ASSERT_TRUE(channels.insert(channel("g", 0, {})));

    EXPECT_TRUE(channels.updateUrl("f", 0, "https://storage.example/fresh?sig='x'", 9000000000));
    struct Miss {
        std::string fileUid;
        std::uint64_t offset;
    };
    for (const Miss& miss : {Miss{"f", 50}, Miss{"missing", 0}, Miss{"f' OR 1=1 --", 0}})
        EXPECT_FALSE(channels.updateUrl(miss.fileUid, miss.offset, "https://other", 1)) << miss.fileUid;

    EXPECT_EQ(std::vector<std::string>(
                  {"https://storage.example/fresh?sig='x'", "https://storage.example/fresh?sig='x'",
                   "https://storage.example/fresh?sig='x'", channel("f", 100, {}).Url, channel("g", 0, {}).Url}),
              fv_test::queryColumn<std::string>(*db, "SELECT Url FROM ChannelsDictionary "
                                                     "ORDER BY FileUid, LocalOffset, HeaderIndex"));
    std::vector<CChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ(9000000000, rows[0].UrlExpires);
    EXPECT_EQ(3u, rows[0].headers.size());
    EXPECT_EQ(channel("f", 100, {}).UrlExpires, rows[1].UrlExpires);
    EXPECT_EQ(channel("g", 0, {}).UrlExpires, rows[2].UrlExpires);
}

TEST_F(UploadChannelsTable, ClosedDatabaseFailsEveryCall)
{
    CChannelsDbInfo channels(db);
    ASSERT_TRUE(channels.insert(channel("f", 0, {{"A", "1"}})));
    db->close();

    EXPECT_FALSE(channels.insert(channel("g", 0, {})));
    EXPECT_FALSE(channels.updateUrl("f", 0, "https://fresh", 1));
    EXPECT_FALSE(channels.updateState("f", 0, 3));
    std::vector<CChannelsDbInfo::ChannelInfo> rows(1);
    EXPECT_FALSE(channels.selectAll(rows));
    EXPECT_TRUE(rows.empty());
}

TEST_F(UploadChannelsTable, ChannelIsStoredWholeOrNotAtAll)
{
    CChannelsDbInfo channels(db);
    ASSERT_TRUE(channels.insert(channel("f", 0, {{"Old", "1"}})));
    // The second row of any channel fails, as a full disk or a crash half-way would.
    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TRIGGER second_row_fails BEFORE INSERT ON ChannelsDictionary "
                                      "WHEN NEW.HeaderIndex = 1 BEGIN SELECT RAISE(ABORT, 'refused'); END"));

    EXPECT_FALSE(channels.insert(channel("f", 0, {{"A", "1"}, {"B", "2"}, {"C", "3"}})));
    EXPECT_FALSE(channels.insert(channel("g", 0, {{"A", "1"}, {"B", "2"}})));

    std::vector<CChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("f", rows[0].FileUid);
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"Old", "1"}}), rows[0].headers);
}

TEST_F(UploadChannelsTable, FilePlanReplacesChannelsAndUploadIdTogetherOrNotAtAll)
{
    struct Case {
        std::string name;
        bool fileStored;     // the plan of a file without its row is refused
        bool secondRowFails; // as a full disk half-way would
        bool expectStored;
    };
    const Case cases[] = {
        {"stored whole", true, false, true},
        {"no file row", false, false, false},
        {"a row refused", true, true, false},
    };
    for (const Case& c : cases) {
        fv_test::TempDir caseDir;
        auto connection = fv_test::openTestDb(caseDir.file("t.db"));
        CFilesDbInfo files(connection);
        CChannelsDbInfo channels(connection);
        if (c.fileStored) {
            ASSERT_TRUE(files.insert(fileDesc("f"), 1, 30)) << c.name;
        }
        ASSERT_TRUE(channels.insert(channel("f", 0, {{"Old", "1"}}))) << c.name;
        ASSERT_TRUE(channels.insert(channel("other", 0, {}))) << c.name;
        if (c.secondRowFails) {
            ASSERT_TRUE(fv_test::execSql(*connection, "CREATE TRIGGER second_row_fails BEFORE INSERT ON "
                                                      "ChannelsDictionary WHEN NEW.LocalOffset = 20 BEGIN SELECT "
                                                      "RAISE(ABORT, 'refused'); END"))
                << c.name;
        }

        EXPECT_EQ(c.expectStored,
                  channels.replaceFilePlan("f", "upload-9", {channel("f", 10, {{"A", "1"}}), channel("f", 20, {})}))
            << c.name;

        std::vector<CChannelsDbInfo::ChannelInfo> rows;
        ASSERT_TRUE(channels.selectAll(rows)) << c.name;
        std::vector<std::uint64_t> offsetsOfF;
        for (const auto& row : rows)
            if (row.FileUid == "f")
                offsetsOfF.push_back(row.LocalOffset);
        const std::vector<std::uint64_t> expectedOffsets =
            c.expectStored ? std::vector<std::uint64_t>{10, 20} : std::vector<std::uint64_t>{0};
        EXPECT_EQ(expectedOffsets, offsetsOfF) << c.name;
        EXPECT_EQ(rows.size(), offsetsOfF.size() + 1) << c.name << ": another file's channels stay";
        std::vector<CFilesDbInfo::FileInfo> fileRows;
        ASSERT_TRUE(files.selectAll(fileRows)) << c.name;
        if (c.fileStored) {
            ASSERT_EQ(1u, fileRows.size()) << c.name;
            EXPECT_EQ(c.expectStored ? "upload-9" : "", fileRows[0].UploadId) << c.name;
        }
    }
}

TEST_F(UploadChannelsTable, RemovalByFileRemovesAllItsChannels)
{
    CChannelsDbInfo channels(db);
    for (const char* id : {"a", "FileUid", "q\"uote", "keep"}) {
        ASSERT_TRUE(channels.insert(channel(id, 0, {{"A", "1"}, {"B", "2"}})));
        ASSERT_TRUE(channels.insert(channel(id, 10, {})));
    }
    EXPECT_TRUE(channels.removeByFileUid("a"));
    EXPECT_TRUE(channels.removeByFileUids({"FileUid", "q\"uote"}));
    EXPECT_TRUE(channels.removeByFileUids({}));

    std::vector<CChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("keep", rows[0].FileUid);
    EXPECT_EQ("keep", rows[1].FileUid);
}

TEST_F(UploadChannelsTable, RowsOfTheOlderLayoutStayReadable)
{
    // The layout keyed by header name, as files written before the header index hold it.
    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TABLE ChannelsDictionary (FileUid VARCHAR(40), Url VARCHAR, "
                                      "LocalOffset UINTEGER64, BytesToUpload UINTEGER64, State INTEGER8, "
                                      "HttpHeaderName VARCHAR, HttpHeaderValue VARCHAR, "
                                      "PRIMARY KEY(FileUid, LocalOffset, HttpHeaderName))"));
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO ChannelsDictionary VALUES"
                                      "('f', 'u', 0, 10, 4, 'Z', 'z'), ('f', 'u', 0, 10, 4, 'A', 'a'), "
                                      "('g', 'v', 8, 2, 1, '', '')"));

    CChannelsDbInfo channels(db);
    std::vector<CChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("f", rows[0].FileUid);
    EXPECT_EQ(4u, rows[0].State);
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"Z", "z"}, {"A", "a"}}), rows[0].headers);
    EXPECT_EQ("g", rows[1].FileUid);
    EXPECT_TRUE(rows[1].headers.empty());
    for (const auto& row : rows)
        EXPECT_EQ(CChannelsDbInfo::kUnknownUrlExpiry, row.UrlExpires) << row.FileUid;

    ASSERT_TRUE(channels.insert(channel("h", 0, {{"X", "1"}, {"X", "2"}})));
    ASSERT_TRUE(channels.selectAll(rows));
    EXPECT_EQ(3u, rows.size());
}

TEST_F(UploadChannelsTable, RowsOfTheLayoutWithoutUrlExpiryGainItReadingUnknown)
{
    // The layout files written before URL expiries were stored hold.
    ASSERT_TRUE(fv_test::execSql(*db, "CREATE TABLE ChannelsDictionary (FileUid VARCHAR(40), Url VARCHAR, "
                                      "LocalOffset UINTEGER64, BytesToUpload UINTEGER64, State INTEGER8, "
                                      "HttpHeaderName VARCHAR, HttpHeaderValue VARCHAR, "
                                      "HeaderIndex INTEGER NOT NULL DEFAULT 0, "
                                      "PRIMARY KEY(FileUid, LocalOffset, HeaderIndex))"));
    ASSERT_TRUE(fv_test::execSql(*db, "INSERT INTO ChannelsDictionary VALUES "
                                      "('f', 'u0', 0, 10, 3, 'B', 'b', 0), ('f', 'u0', 0, 10, 3, 'A', 'a', 1), "
                                      "('f', 'u1', 10, 6442450944, 1, '', '', 0)"));

    CChannelsDbInfo channels(db);
    EXPECT_TRUE(fv_test::tableHasColumn(*db, "ChannelsDictionary", "UrlExpires"));
    std::vector<CChannelsDbInfo::ChannelInfo> rows;
    ASSERT_TRUE(channels.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("u0", rows[0].Url);
    EXPECT_EQ(3u, rows[0].State);
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"B", "b"}, {"A", "a"}}), rows[0].headers);
    EXPECT_EQ(6442450944u, rows[1].BytesToUpload);
    for (const auto& row : rows)
        EXPECT_EQ(CChannelsDbInfo::kUnknownUrlExpiry, row.UrlExpires) << row.Url;

    // Opening the table again leaves the converted layout as it is.
    CChannelsDbInfo again(db);
    EXPECT_TRUE(again.updateUrl("f", 10, "u2", 1700000000));
    ASSERT_TRUE(again.selectAll(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("u2", rows[1].Url);
    EXPECT_EQ(1700000000, rows[1].UrlExpires);
}
