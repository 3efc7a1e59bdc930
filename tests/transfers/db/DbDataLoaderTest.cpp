#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "transfers/db/DbTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

using fv_transfers::CDbDataLoader;
using fv_transfers::CDbHolder;

namespace {

using ChannelKey = std::pair<std::string, std::uint64_t>;

struct StoredState {
    std::vector<int> groups;
    std::vector<std::pair<std::string, int>> files; // uid, parent group
    std::vector<ChannelKey> channels;
};

void storeUploadState(CDbHolder& holder, const StoredState& state)
{
    for (int id : state.groups) {
        fv_transfers::CGroupsDbInfo::GroupInfo group;
        group.GroupId = id;
        ASSERT_TRUE(holder.getGroupsDbInfo()->insert(group));
    }
    for (const auto& file : state.files) {
        fv_transfers::UploadFileDesc desc;
        desc.fileUid = file.first;
        ASSERT_TRUE(holder.getFilesDbInfo()->insert(desc, file.second));
    }
    for (const auto& key : state.channels) {
        fv_transfers::CChannelsDbInfo::ChannelInfo channel;
        channel.FileUid = key.first;
        channel.LocalOffset = key.second;
        channel.headers = {{"A", "1"}, {"B", "2"}};
        ASSERT_TRUE(holder.getChannelsDbInfo()->insert(channel));
    }
}

void storeDownloadState(CDbHolder& holder, const StoredState& state)
{
    for (int id : state.groups) {
        fv_transfers::CDbDownloadGroupInfoAggregator::GroupInfo group;
        group.GroupId = id;
        ASSERT_TRUE(holder.getDownloadGroupInfoAggregator()->insert(group));
    }
    for (const auto& file : state.files) {
        fv_transfers::FileDownloadDetails details;
        details.id = file.first;
        ASSERT_TRUE(holder.getDownloadFilesDbInfo()->insert(details, file.second, L"tmp"));
    }
    for (const auto& key : state.channels)
        ASSERT_TRUE(holder.getDownloadChannelsDbInfo()->insert({key.first, key.second, 1, 1, ""}));
}

std::set<std::string> storedIds(CDbHolder& holder, const std::string& table)
{
    const auto ids = fv_test::queryColumn<std::string>(*holder.getConnection(), "SELECT FileUid FROM " + table);
    return std::set<std::string>(ids.begin(), ids.end());
}

struct SnapshotCase {
    const char* name;
    StoredState stored;
    std::set<std::string> filesLeft;
    std::set<std::string> channelFilesLeft;
    std::map<std::string, std::size_t> logLines; // fragment -> times written ("%" stands for the side)
};

std::string sided(const std::string& fragment, const std::string& side)
{
    std::string text = fragment;
    for (auto at = text.find('%'); at != std::string::npos; at = text.find('%'))
        text.replace(at, 1, side);
    return text;
}

const std::vector<SnapshotCase>& snapshotCases()
{
    static const std::vector<SnapshotCase> cases = {
        {"groups only",
         {{1, 2}, {}, {}},
         {},
         {},
         {{"There are no % files and % parts in DB, skipping", 1}, {"Starting % data validation", 0}}},
        {"zombie file",
         {{1}, {{"f1", 1}, {"f2", 2}}, {{"f1", 0}, {"f2", 0}, {"f2", 100}}},
         {"f1"},
         {"f1"},
         {{"Found zombie file in DB. File id: f2. It belong to group 2 which does not exist", 1},
          {"1 % files should be removed from DB", 1},
          {"Found zombie channel", 0},
          {"No zombie % channels found", 1}}},
        {"zombie channels only",
         {{1}, {{"f1", 1}}, {{"f1", 0}, {"gone", 0}, {"gone", 10}}},
         {"f1"},
         {"f1"},
         {{"All % files in DB are valid", 1},
          {"Found zombie channel in DB. File id: gone", 2},
          {"1 zombie file ids extracted from % channels DB table. Removing...", 1}}},
        {"two files of one missing group",
         {{}, {{"a", 7}, {"b", 7}}, {}},
         {},
         {},
         {{"Found zombie file in DB. File id: a. It belong to group 7", 1},
          {"Found zombie file in DB. File id: b. It belong to group 7", 1},
          {"2 % files should be removed from DB", 1}}},
        {"all valid",
         {{1, 2}, {{"a", 1}, {"b", 2}}, {{"a", 0}, {"b", 0}, {"b", 5}}},
         {"a", "b"},
         {"a", "b"},
         {{"All % files in DB are valid", 1}, {"No zombie % channels found", 1}, {"Found zombie", 0}}},
    };
    return cases;
}

} // namespace

TEST(DbDataLoader, SnapshotDropsOnlyOrphans)
{
    struct Side {
        const char* name;
        void (*store)(CDbHolder&, const StoredState&);
        bool (CDbDataLoader::*load)(const CDbHolder&);
        void (CDbDataLoader::*release)();
        const char* filesTable;
        const char* channelsTable;
        std::size_t (*groupCount)(const CDbDataLoader&);
        std::set<std::string> (*snapshotFiles)(const CDbDataLoader&);
    };
    const Side sides[] = {
        {"upload", storeUploadState, &CDbDataLoader::loadUploadData, &CDbDataLoader::releaseUploadData,
         "FilesDictionary", "ChannelsDictionary",
         [](const CDbDataLoader& loader) { return loader.uploadGroups().size(); },
         [](const CDbDataLoader& loader) {
             std::set<std::string> ids;
             for (const auto& file : loader.uploadFiles())
                 ids.insert(file.FileUid);
             return ids;
         }},
        {"download", storeDownloadState, &CDbDataLoader::loadDownloadData, &CDbDataLoader::releaseDownloadData,
         "DownloadFilesDictionary", "DownloadChannelsDictionary",
         [](const CDbDataLoader& loader) { return loader.downloadGroups().size(); },
         [](const CDbDataLoader& loader) {
             std::set<std::string> ids;
             for (const auto& file : loader.downloadFiles())
                 ids.insert(file.details.id);
             return ids;
         }},
    };
    fv_test::TempDir dir;
    fv_test::LogCapture log(dir);
    auto& loader = CDbDataLoader::getInstance();
    for (const Side& side : sides) {
        for (const SnapshotCase& c : snapshotCases()) {
            const std::string name = std::string(side.name) + " " + c.name;
            CDbHolder holder(dir.file(name + ".db"));
            side.store(holder, c.stored);
            log.mark();

            ASSERT_TRUE((loader.*side.load)(holder)) << name;
            EXPECT_EQ(c.filesLeft, storedIds(holder, side.filesTable)) << name;
            EXPECT_EQ(c.channelFilesLeft, storedIds(holder, side.channelsTable)) << name;
            EXPECT_EQ(c.stored.groups.size(), side.groupCount(loader)) << name;
            EXPECT_EQ(c.filesLeft, side.snapshotFiles(loader)) << name;
            for (const auto& line : c.logLines)
                EXPECT_EQ(line.second, log.count(sided(line.first, side.name))) << name << ": " << line.first;
            (loader.*side.release)();
            EXPECT_EQ(0u, side.groupCount(loader));
        }
    }
    // The channels that stay in the snapshot are those of valid files only.
    CDbHolder holder(dir.file("channels.db"));
    storeUploadState(holder, snapshotCases()[1].stored);
    ASSERT_TRUE(loader.loadUploadData(holder));
    ASSERT_EQ(1u, loader.uploadChannels().size());
    EXPECT_EQ("f1", loader.uploadChannels()[0].FileUid);
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"A", "1"}, {"B", "2"}}),
              loader.uploadChannels()[0].headers);
}

TEST(DbDataLoader, DownloadLoadDropsParametersOfMissingGroups)
{
    fv_test::TempDir dir;
    CDbHolder holder(dir.file("t.db"));
    fv_transfers::CDbDownloadGroupInfoAggregator::GroupInfo group;
    group.GroupId = 1;
    group.params = std::make_shared<std::map<std::string, std::string>>(std::map<std::string, std::string>{{"k", "v"}});
    ASSERT_TRUE(holder.getDownloadGroupInfoAggregator()->insert(group));
    ASSERT_TRUE(fv_test::execSql(*holder.getConnection(), "INSERT INTO GroupInfoParams VALUES (5, 'k', 'stale')"));

    auto& loader = CDbDataLoader::getInstance();
    ASSERT_TRUE(loader.loadDownloadData(holder));
    ASSERT_EQ(1u, loader.downloadGroups().size());
    ASSERT_TRUE(loader.downloadGroups()[0].params);
    EXPECT_EQ("v", loader.downloadGroups()[0].params->at("k"));
    EXPECT_EQ(1, fv_test::countRows(*holder.getConnection(), "GroupInfoParams"));
}

TEST(DbDataLoader, FailedReadDeletesNothing)
{
    fv_test::TempDir dir;
    fv_test::LogCapture log(dir);
    CDbHolder holder(dir.file("t.db"));
    storeUploadState(holder, {{1}, {{"f1", 1}}, {{"f1", 0}}});
    storeDownloadState(holder, {{1}, {{"d1", 1}}, {{"d1", 0}}});
    // The group tables cannot be read, while files and channels can.
    ASSERT_TRUE(fv_test::execSql(*holder.getConnection(), "DROP TABLE GroupsDictionary"));
    ASSERT_TRUE(fv_test::execSql(*holder.getConnection(), "DROP TABLE DownloadGroupsDictionary"));

    auto& loader = CDbDataLoader::getInstance();
    EXPECT_FALSE(loader.loadUploadData(holder));
    EXPECT_FALSE(loader.loadDownloadData(holder));
    EXPECT_TRUE(loader.uploadFiles().empty() && loader.uploadChannels().empty());
    EXPECT_TRUE(loader.downloadFiles().empty() && loader.downloadChannels().empty());
    EXPECT_EQ(std::set<std::string>({"f1"}), storedIds(holder, "FilesDictionary"));
    EXPECT_EQ(std::set<std::string>({"f1"}), storedIds(holder, "ChannelsDictionary"));
    EXPECT_EQ(std::set<std::string>({"d1"}), storedIds(holder, "DownloadFilesDictionary"));
    EXPECT_EQ(std::set<std::string>({"d1"}), storedIds(holder, "DownloadChannelsDictionary"));
    EXPECT_EQ(0u, log.count("Found zombie"));
}

TEST(DbDataLoader, FileHeldByAnotherConnectionLosesNoRows)
{
    fv_test::TempDir dir;
    const std::string path = dir.file("t.db");
    {
        CDbHolder writer(path);
        storeUploadState(writer, {{1}, {{"f1", 1}, {"zombie", 9}}, {{"f1", 0}}});
    }
    CDbHolder holder(path, 1);
    // Another process's connection keeps the file locked beyond our busy time-out. Readers still
    // see the last commit (write-ahead log); only the removal of the zombie has to wait.
    auto other = fv_test::openTestDb(path);
    ASSERT_TRUE(fv_test::execSql(*other, "BEGIN EXCLUSIVE"));

    auto& loader = CDbDataLoader::getInstance();
    EXPECT_TRUE(loader.loadUploadData(holder));
    ASSERT_EQ(1u, loader.uploadFiles().size());
    EXPECT_EQ("f1", loader.uploadFiles()[0].FileUid);

    ASSERT_TRUE(fv_test::execSql(*other, "ROLLBACK"));
    EXPECT_EQ(std::set<std::string>({"f1", "zombie"}), storedIds(holder, "FilesDictionary"));
    // Once the file is free, the next load cleans up as usual.
    ASSERT_TRUE(loader.loadUploadData(holder));
    EXPECT_EQ(std::set<std::string>({"f1"}), storedIds(holder, "FilesDictionary"));
}

using Hook = std::function<void()>;

// Reads one side's tables one by one as the loader does, running a hook after the group read and
// after the file read, then removes the zombies the snapshot shows; gives the files it keeps.
template <typename GroupTable, typename FileTable, typename ChannelTable, typename Group, typename File,
          typename Channel, typename IdOf>
std::set<std::string> loadAround(const CDbHolder& holder, GroupTable& groupTable, FileTable& fileTable,
                                 ChannelTable& channelTable,
                                 void (*removeZombies)(const CDbHolder&, const std::vector<Group>&, std::vector<File>&,
                                                       std::vector<Channel>&),
                                 IdOf idOf, const Hook& afterGroups, const Hook& afterFiles)
{
    std::vector<Group> groups;
    std::vector<File> files;
    std::vector<Channel> channels;
    EXPECT_TRUE(groupTable.selectAll(groups));
    afterGroups();
    EXPECT_TRUE(fileTable.selectAll(files));
    afterFiles();
    EXPECT_TRUE(channelTable.selectAll(channels));
    removeZombies(holder, groups, files, channels);
    std::set<std::string> ids;
    for (const File& file : files)
        ids.insert(idOf(file));
    return ids;
}

// A second connection to the file (another process, or tables a manager still holds after the
// holder was released) stores a group with a file while the loader reads table by table: after its
// group read, and again after its file read. The snapshot then shows those rows as orphans; the
// database must keep them, and still lose the real orphans.
TEST(DbDataLoader, RowsStoredDuringTheLoadSurvive)
{
    struct Side {
        const char* name;
        void (*store)(CDbHolder&, const StoredState&);
        std::set<std::string> (*load)(const CDbHolder&, const Hook&, const Hook&);
        const char* filesTable;
        const char* channelsTable;
        const char* offsetColumn;
    };
    const Side sides[] = {
        {"upload", storeUploadState,
         [](const CDbHolder& holder, const Hook& afterGroups, const Hook& afterFiles) {
             return loadAround(
                 holder, *holder.getGroupsDbInfo(), *holder.getFilesDbInfo(), *holder.getChannelsDbInfo(),
                 &CDbDataLoader::removeUploadZombies,
                 [](const fv_transfers::CFilesDbInfo::FileInfo& file) { return file.FileUid; }, afterGroups,
                 afterFiles);
         },
         "FilesDictionary", "ChannelsDictionary", "LocalOffset"},
        {"download", storeDownloadState,
         [](const CDbHolder& holder, const Hook& afterGroups, const Hook& afterFiles) {
             return loadAround(
                 holder, *holder.getDownloadGroupInfoAggregator(), *holder.getDownloadFilesDbInfo(),
                 *holder.getDownloadChannelsDbInfo(), &CDbDataLoader::removeDownloadZombies,
                 [](const fv_transfers::CDownloadFilesDbInfo::FileInfo& file) { return file.details.id; }, afterGroups,
                 afterFiles);
         },
         "DownloadFilesDictionary", "DownloadChannelsDictionary", "Offset"},
    };
    fv_test::TempDir dir;
    for (const Side& side : sides) {
        const std::string path = dir.file(std::string(side.name) + ".db");
        CDbHolder holder(path);
        side.store(holder, {{1}, {{"kept", 1}, {"zombie", 9}}, {{"kept", 0}, {"zombie", 0}, {"gone", 0}, {"gone", 8}}});
        CDbHolder other(path);

        const std::set<std::string> snapshot = side.load(
            holder,
            [&] {
                side.store(other, {{7}, {{"late", 7}}, {{"late", 0}, {"late", 64}}});
            },
            [&] {
                side.store(other, {{}, {{"later", 1}}, {{"later", 0}}});
            });

        EXPECT_EQ(std::set<std::string>({"kept"}), snapshot) << side.name;
        EXPECT_EQ(std::set<std::string>({"kept", "late", "later"}), storedIds(holder, side.filesTable)) << side.name;
        const auto channels = fv_test::queryColumn<std::string>(
            *holder.getConnection(),
            "SELECT DISTINCT FileUid || '@' || " + std::string(side.offsetColumn) + " FROM " + side.channelsTable);
        EXPECT_EQ(std::set<std::string>({"kept@0", "late@0", "late@64", "later@0"}),
                  std::set<std::string>(channels.begin(), channels.end()))
            << side.name;
    }
}

TEST(DbDataLoader, ChannelsOfOneFileAreCopiedInOrder)
{
    std::vector<fv_transfers::CChannelsDbInfo::ChannelInfo> source(4);
    source[0].FileUid = "a";
    source[0].LocalOffset = 0;
    source[1].FileUid = "b";
    source[2].FileUid = "a";
    source[2].LocalOffset = 9;
    source[3].FileUid = "A";
    std::vector<fv_transfers::CChannelsDbInfo::ChannelInfo> out(2);

    CDbDataLoader::getUploadChannelsOfFile("a", out, source);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(0u, out[0].LocalOffset);
    EXPECT_EQ(9u, out[1].LocalOffset);
    CDbDataLoader::getUploadChannelsOfFile("none", out, source);
    EXPECT_TRUE(out.empty());

    std::vector<fv_transfers::CDownloadChannelsDbInfo::ChannelInfo> downloads = {{"x", 5, 1, 1, ""},
                                                                                 {"y", 0, 1, 1, ""}};
    std::vector<fv_transfers::CDownloadChannelsDbInfo::ChannelInfo> downloadOut;
    CDbDataLoader::getDownloadChannelsOfFile("x", downloadOut, downloads);
    ASSERT_EQ(1u, downloadOut.size());
    EXPECT_EQ(5u, downloadOut[0].Offset);
}
