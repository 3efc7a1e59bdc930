#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "transfers/db/DbTestSupport.h"

#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/SessionFactory.h>
#include <Poco/Exception.h>
#include <Poco/File.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

void storeGroupWithFiles(CDbHolder& holder, int groupId, int files)
{
    fv_transfers::CGroupsDbInfo::GroupInfo group;
    group.GroupId = groupId;
    group.BucketToken = std::string(200, 't');
    ASSERT_TRUE(holder.getGroupsDbInfo()->insert(group));
    for (int i = 0; i < files; ++i)
        ASSERT_TRUE(
            holder.getFilesDbInfo()->insert(fileDesc("file-" + std::to_string(i) + std::string(100, 'x')), groupId));
}

// The names in `folder` that start with `prefix`.
std::vector<std::string> namesStartingWith(const std::string& folder, const std::string& prefix)
{
    std::vector<std::string> names;
    Poco::File(folder).list(names);
    std::vector<std::string> found;
    for (const std::string& name : names) {
        if (name.compare(0, prefix.size(), prefix) == 0)
            found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
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
    EXPECT_FALSE(holder->getDownloadChannelsDbInfo()->updateCheckpoint("f", 0, 1));
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

TEST(DbHolder, FileLockedAtStartUpIsGivenUpAtTheBoundAndKept)
{
    fv_test::TempDir dir;
    fv_test::LogCapture log(dir);
    const std::string path = dir.file(kDbName);
    {
        CDbHolder writer(path);
        storeGroupWithFiles(writer, 1, 3);
    }
    const std::string stored = fv_test::readFile(path);
    // Another program's connection holds the file for the whole start-up.
    auto other = fv_test::openTestDb(path);
    ASSERT_TRUE(fv_test::execSql(*other, "BEGIN EXCLUSIVE"));
    log.mark();

    bool connected = true;
    bool loaded = true;
    std::promise<void> started;
    std::thread starter([&] {
        CDbHolder holder(path, fv_transfers::CDbConnection::kBusyTimeoutSeconds, std::chrono::milliseconds(300));
        loaded = fv_transfers::CDbDataLoader::getInstance().loadUploadData(holder);
        connected = holder.isConnected();
        started.set_value();
    });
    const bool finished = started.get_future().wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    // Frees a start-up that waits per statement, so that a failing run ends rather than hangs.
    ASSERT_TRUE(fv_test::execSql(*other, "ROLLBACK"));
    starter.join();

    ASSERT_TRUE(finished) << "the start-up waited for the file beyond its bound";
    EXPECT_FALSE(connected);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(1u, log.count("stayed locked by another program"));
    EXPECT_EQ(0u, log.count("Exception when trying to"));
    // A locked file is never taken for a damaged one.
    EXPECT_EQ(stored, fv_test::readFile(path));
    EXPECT_TRUE(namesStartingWith(dir.path(), std::string(kDbName) + ".damaged").empty());
}

TEST(DbHolder, DamagedFileIsMovedAsideAndAFreshOneStarted)
{
    fv_test::TempDir dir;
    fv_test::LogCapture log(dir);
    std::string real;
    {
        CDbHolder writer(dir.file("real.db"));
        storeGroupWithFiles(writer, 1, 200);
    }
    real = fv_test::readFile(dir.file("real.db"));
    ASSERT_GT(real.size(), 8u * 4096);
    std::string overwritten = real;
    overwritten.replace(3 * 4096, 4096, randomBytes(4096, 3));

    struct Case {
        const char* name;
        std::string bytes;
        std::string shm; // a companion file beside it, when not empty (SQLite itself ends a junk -wal)
    };
    const Case cases[] = {
        {"random bytes", randomBytes(20000, 1), randomBytes(1000, 2)},
        {"truncated database", real.substr(0, real.size() / 2 + 100), ""},
        {"page overwritten", overwritten, ""},
    };
    for (const Case& c : cases) {
        const std::string folder = dir.file(c.name);
        Poco::File(folder).createDirectories();
        const std::string path = folder + "/" + kDbName;
        fv_test::writeFile(path, c.bytes);
        if (!c.shm.empty())
            fv_test::writeFile(path + "-shm", c.shm);
        log.mark();

        CDbHolder holder(path);
        ASSERT_TRUE(holder.isConnected()) << c.name;
        EXPECT_TRUE(holder.getFilesDbInfo()->insert(fileDesc("new"), 1)) << c.name;
        std::vector<fv_transfers::CFilesDbInfo::FileInfo> files;
        ASSERT_TRUE(holder.getFilesDbInfo()->selectAll(files)) << c.name;
        EXPECT_EQ(1u, files.size()) << c.name;

        const auto aside = namesStartingWith(folder, std::string(kDbName) + ".damaged-");
        ASSERT_EQ(c.shm.empty() ? 1u : 2u, aside.size()) << c.name;
        const std::string asidePath = folder + "/" + aside.front();
        EXPECT_EQ(c.bytes, fv_test::readFile(asidePath)) << c.name;
        EXPECT_EQ(0600u, modeOf(asidePath)) << c.name;
        if (!c.shm.empty()) {
            EXPECT_EQ(c.shm, fv_test::readFile(asidePath + "-shm")) << c.name;
            EXPECT_EQ(0600u, modeOf(asidePath + "-shm")) << c.name;
        }
        EXPECT_EQ(1u, log.count("The transfer database was damaged; it is kept as " + asidePath)) << c.name;
    }
}

namespace {

const char* const kReadOnlyDbVariable = "FV_TEST_READ_ONLY_DB";

void expectReadOnlyDatabaseRestored(const std::string& path)
{
    fv_test::TempDir logDir;
    fv_test::LogCapture log(logDir);
    const std::string stored = fv_test::readFile(path);
    log.mark();

    CDbHolder holder(path);
    ASSERT_TRUE(holder.isConnected());
    auto& loader = fv_transfers::CDbDataLoader::getInstance();
    ASSERT_TRUE(loader.loadUploadData(holder));
    ASSERT_EQ(1u, loader.uploadGroups().size());
    EXPECT_EQ(7, loader.uploadGroups()[0].GroupId);
    EXPECT_EQ(2u, loader.uploadFiles().size());
    loader.releaseUploadData();

    fv_transfers::CGroupsDbInfo::GroupInfo group;
    group.GroupId = 8;
    EXPECT_FALSE(holder.getGroupsDbInfo()->insert(group));
    EXPECT_FALSE(holder.getFilesDbInfo()->setCompleted(fileDesc("a").fileUid));
    EXPECT_EQ(1u, log.count("is read-only: stored transfers are restored, new state is not saved"));
    EXPECT_EQ(0u, log.count("Unable to connect"));
    EXPECT_EQ(stored, fv_test::readFile(path));
}

} // namespace

// Root may write any file, so there the checks run in a copy of this test as an unprivileged user.
TEST(DbHolder, ReadOnlyFileIsRestoredAndRefusesWrites)
{
    if (const char* prepared = std::getenv(kReadOnlyDbVariable)) {
        expectReadOnlyDatabaseRestored(prepared);
        return;
    }
    fv_test::TempDir dir;
    const std::string path = dir.file(kDbName);
    {
        CDbHolder writer(path);
        storeGroupWithFiles(writer, 7, 2);
    }
    ASSERT_EQ(0, ::chmod(path.c_str(), 0400));
    if (::geteuid() != 0) {
        expectReadOnlyDatabaseRestored(path);
        return;
    }

    const uid_t nobody = 65534;
    ASSERT_EQ(0, ::chown(path.c_str(), nobody, nobody));
    ASSERT_EQ(0, ::chmod(dir.path().c_str(), 0755)); // readable, not writable, by the other user
    const std::string filter =
        "--gtest_filter=" + std::string(::testing::UnitTest::GetInstance()->current_test_suite()->name()) + "." +
        ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string variable = std::string(kReadOnlyDbVariable) + "=" + path;
    std::vector<char*> environment;
    for (char** entry = environ; *entry; ++entry)
        environment.push_back(*entry);
    environment.push_back(const_cast<char*>(variable.c_str()));
    environment.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* const arguments[] = {self, const_cast<char*>(filter.c_str()), nullptr};

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0)
            ::execve(self, arguments, environment.data());
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "the checks failed as user " << nobody;
}
