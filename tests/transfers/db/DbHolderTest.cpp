#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "transfers/db/DbTestSupport.h"

#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/SessionFactory.h>
#include <Poco/Exception.h>
#include <Poco/File.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

using fv_transfers::CDbHolder;
using fv_transfers::UploadFileDesc;

namespace {

const char* const kDbName = "fv_transfers_v8.db";

void setAppFilesPath(const std::string& path)
{
    fv_transfers::CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(fv_transfers::utf8ToWide(path));
}

unsigned modeOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(0, ::stat(path.c_str(), &info)) << path;
    return info.st_mode & 0777;
}

UploadFileDesc fileDesc(const std::string& uid)
{
    UploadFileDesc desc;
    desc.fileUid = uid;
    desc.fileUrl = L"file:///tmp/" + fv_transfers::utf8ToWide(uid);
    return desc;
}

} // namespace

TEST(DbHolder, DatabasePathFollowsTheApplicationFolder)
{
    fv_test::TempDir dir;
    struct Case {
        std::string appPath;
        std::string expected;
    };
    const Case cases[] = {
        {"", kDbName},
        {dir.path(), dir.path() + "/" + kDbName},
        {dir.path() + "/", dir.path() + "/" + kDbName},
    };
    for (const Case& c : cases) {
        setAppFilesPath(c.appPath);
        EXPECT_EQ(c.expected, CDbHolder::makeDbFilePath(kDbName)) << "'" << c.appPath << "'";
    }
    EXPECT_EQ("/x/", fv_transfers::withTrailingSlash("/x"));
    EXPECT_EQ("/x/", fv_transfers::withTrailingSlash("/x/"));
}

TEST(DbHolder, OpensOnlyOnFirstUseWithOwnerOnlyModes)
{
    fv_test::TempDir dir;
    const std::string appFolder = dir.file("data/Ferrovan");
    setAppFilesPath(appFolder);
    const mode_t previousMask = ::umask(0); // the modes must not depend on the caller's umask

    EXPECT_FALSE(Poco::File(appFolder).exists());
    auto holder = CDbHolder::getInstance();
    ::umask(previousMask);
    ASSERT_TRUE(holder->isConnected());
    EXPECT_EQ(holder, CDbHolder::getInstance());
    EXPECT_EQ(0700u, modeOf(appFolder));
    EXPECT_EQ(0600u, modeOf(appFolder + "/" + kDbName));
}

TEST(DbHolder, NarrowsTheModeOfAnExistingFile)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file(kDbName), "");
    ASSERT_EQ(0, ::chmod(dir.file(kDbName).c_str(), 0644));

    CDbHolder holder(dir.file(kDbName));
    ASSERT_TRUE(holder.isConnected());
    EXPECT_EQ(0600u, modeOf(dir.file(kDbName)));
}

TEST(DbHolder, RemovesOldVersionsAndKeepsTheCurrentFile)
{
    fv_test::TempDir dir;
    fv_test::LogCapture log(dir);
    {
        CDbHolder current(dir.file(kDbName));
        ASSERT_TRUE(current.getFilesDbInfo()->insert(fileDesc("kept"), 1));
    }
    fv_test::writeFile(dir.file("fv_transfers.db"), "old");
    fv_test::writeFile(dir.file("fv_transfers_v3.db"), "old");
    fv_test::writeFile(dir.file("fv_transfers_v7.db"), "old");
    // An old name that cannot be removed: a directory with something in it.
    Poco::File(dir.file("fv_transfers_v5.db/inside")).createDirectories();
    log.mark();

    auto holder = CDbHolder::getInstance();
    ASSERT_TRUE(holder->isConnected());
    EXPECT_FALSE(Poco::File(dir.file("fv_transfers.db")).exists());
    EXPECT_FALSE(Poco::File(dir.file("fv_transfers_v3.db")).exists());
    EXPECT_FALSE(Poco::File(dir.file("fv_transfers_v7.db")).exists());
    EXPECT_TRUE(Poco::File(dir.file("fv_transfers_v5.db")).exists());
    EXPECT_EQ(1u, log.count("Exception when removing old DB: "));
    bool present = false;
    ASSERT_TRUE(holder->getFilesDbInfo()->exists("kept", present));
    EXPECT_TRUE(present);
}

TEST(DbHolder, FailedOpenGivesTablesThatReportFailure)
{
    fv_test::TempDir dir;
    fv_test::LogCapture log(dir);
    // The application folder is a regular file, so nothing can be created in it.
    fv_test::writeFile(dir.file("not-a-folder"), "x");
    setAppFilesPath(dir.file("not-a-folder"));
    log.mark();

    auto holder = CDbHolder::getInstance();
    EXPECT_FALSE(holder->isConnected());
    ASSERT_TRUE(holder->getGroupsDbInfo() && holder->getFilesDbInfo() && holder->getChannelsDbInfo() &&
                holder->getDownloadChannelsDbInfo() && holder->getDownloadGroupInfoAggregator() &&
                holder->getDownloadFilesDbInfo());
    EXPECT_FALSE(holder->getFilesDbInfo()->insert(fileDesc("f"), 1));
    bool present = true;
    EXPECT_FALSE(holder->getFilesDbInfo()->exists("f", present));
    EXPECT_FALSE(holder->getChannelsDbInfo()->updateState("f", 0, 1));
    EXPECT_FALSE(holder->getDownloadGroupInfoAggregator()->removeByGroupId(1));

    auto& loader = fv_transfers::CDbDataLoader::getInstance();
    EXPECT_FALSE(loader.loadUploadData());
    EXPECT_TRUE(loader.uploadGroups().empty() && loader.uploadFiles().empty() && loader.uploadChannels().empty());
    EXPECT_FALSE(loader.loadDownloadData());
    EXPECT_TRUE(loader.downloadGroups().empty());

    EXPECT_EQ(holder, CDbHolder::getInstance());
    EXPECT_EQ(1u, log.count("Unable to connect to database. Exception is: "));
}

TEST(DbHolder, ReplacementIsRefusedWhileTablesAreHeld)
{
    fv_test::TempDir dir;
    fv_test::LogCapture log(dir);
    auto files = CDbHolder::getInstance()->getFilesDbInfo();
    ASSERT_TRUE(files->insert(fileDesc("a"), 1));

    EXPECT_FALSE(CDbHolder::createInstance());
    EXPECT_EQ(files, CDbHolder::getInstance()->getFilesDbInfo());

    files.reset();
    EXPECT_TRUE(CDbHolder::createInstance());
    bool present = false;
    ASSERT_TRUE(CDbHolder::getInstance()->getFilesDbInfo()->exists("a", present));
    EXPECT_TRUE(present);
    EXPECT_EQ(0u, log.count("Exception when removing old DB"));
}

TEST(DbHolder, ConnectorStaysRegisteredWhileAnyConnectionIsOpen)
{
    fv_test::TempDir dir;
    const auto openRaw = [&] {
        Poco::Data::SessionFactory::instance().create(Poco::Data::SQLite::Connector::KEY, dir.file("raw.db"));
    };
    {
        CDbHolder first(dir.file("a.db"));
        {
            CDbHolder second(dir.file("b.db"));
        }
        EXPECT_NO_THROW(openRaw());
    }
    EXPECT_THROW(openRaw(), Poco::NotFoundException);
}

TEST(DbHolder, TablesOutliveAReleasedHolder)
{
    fv_test::TempDir dir;
    setAppFilesPath(dir.path());
    auto channels = CDbHolder::getInstance()->getChannelsDbInfo();
    std::weak_ptr<fv_transfers::CDbConnection> connection = CDbHolder::getInstance()->getConnection();

    CDbHolder::releaseInstance();
    ASSERT_FALSE(connection.expired());
    fv_transfers::CChannelsDbInfo::ChannelInfo channel;
    channel.FileUid = "f";
    EXPECT_TRUE(channels->insert(channel));

    // A new holder sees what the old connection wrote.
    std::vector<fv_transfers::CChannelsDbInfo::ChannelInfo> stored;
    ASSERT_TRUE(CDbHolder::getInstance()->getChannelsDbInfo()->selectAll(stored));
    EXPECT_EQ(1u, stored.size());

    channels.reset();
    EXPECT_TRUE(connection.expired());
}

TEST(DbHolder, ConcurrentOperationsOnAllTablesStayConsistent)
{
    fv_test::TempDir dir;
    setAppFilesPath(dir.path());
    auto holder = CDbHolder::getInstance();
    const int kThreads = 8;
    const int kRounds = 25;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto check = [&](bool ok) { failures += ok ? 0 : 1; };
            for (int i = 0; i < kRounds; ++i) {
                const std::string id = "t" + std::to_string(t) + "-" + std::to_string(i);
                const int groupId = t * 1000 + i;
                switch (t % 4) {
                case 0: {
                    fv_transfers::CGroupsDbInfo::GroupInfo group;
                    group.GroupId = groupId;
                    check(holder->getGroupsDbInfo()->insert(group));
                    check(holder->getGroupsDbInfo()->updateRetryCount(groupId, 2));
                    check(holder->getFilesDbInfo()->insert(fileDesc(id), groupId));
                    check(holder->getFilesDbInfo()->updateLastModified(id, 4102444800));
                    break;
                }
                case 1: {
                    fv_transfers::CChannelsDbInfo::ChannelInfo channel;
                    channel.FileUid = id;
                    channel.headers = {{"A", "1"}, {"B", "2"}};
                    check(holder->getChannelsDbInfo()->insert(channel));
                    check(holder->getChannelsDbInfo()->updateState(id, 0, 3));
                    std::vector<fv_transfers::CChannelsDbInfo::ChannelInfo> all;
                    check(holder->getChannelsDbInfo()->selectAll(all));
                    break;
                }
                case 2: {
                    fv_transfers::CDbDownloadGroupInfoAggregator::GroupInfo group;
                    group.GroupId = groupId;
                    group.params = std::make_shared<std::map<std::string, std::string>>(
                        std::map<std::string, std::string>{{"k", id}});
                    check(holder->getDownloadGroupInfoAggregator()->insert(group));
                    check(holder->getDownloadGroupInfoAggregator()->updatePaused(groupId, true));
                    if (i % 2 == 0)
                        check(holder->getDownloadGroupInfoAggregator()->removeByGroupId(groupId));
                    break;
                }
                default: {
                    fv_transfers::FileDownloadDetails details;
                    details.id = id;
                    check(holder->getDownloadFilesDbInfo()->insert(details, groupId, L"tmp"));
                    check(holder->getDownloadChannelsDbInfo()->insert({id, 0, 10, 1, ""}));
                    check(holder->getDownloadChannelsDbInfo()->updateState(id, 0, 3));
                    check(holder->getDownloadFilesDbInfo()->updateDirectUrl(id, "https://u", 1));
                    break;
                }
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(0, failures.load());
    auto& db = *holder->getConnection();
    EXPECT_EQ(2 * kRounds, fv_test::countRows(db, "GroupsDictionary"));
    EXPECT_EQ(2 * kRounds, fv_test::countRows(db, "FilesDictionary"));
    EXPECT_EQ(2 * 2 * kRounds, fv_test::countRows(db, "ChannelsDictionary"));
    const int keptDownloadGroups = 2 * (kRounds / 2); // every even round removes its group
    EXPECT_EQ(keptDownloadGroups, fv_test::countRows(db, "DownloadGroupsDictionary"));
    EXPECT_EQ(keptDownloadGroups, fv_test::countRows(db, "GroupInfoParams"));
    EXPECT_EQ(2 * kRounds, fv_test::countRows(db, "DownloadFilesDictionary"));
    EXPECT_EQ(2 * kRounds, fv_test::countRows(db, "DownloadChannelsDictionary"));
    EXPECT_EQ(0, fv_test::countRows(db, "ChannelsDictionary WHERE State != 3"));
}
