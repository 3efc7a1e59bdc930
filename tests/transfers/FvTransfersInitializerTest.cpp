#include "FvTransfersInitializer.h"
#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/log/FvTransfersLogger.h"
#include "core/system/ServiceWindow.h"
#include "db/DbHolder.h"
#include "db/GroupsDbInfo.h"
#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/TestEnvironment.h"

#include <Poco/File.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace fv_transfers;

namespace {

struct Initializer : ::testing::Test {
    fv_test::NoSystemBus noBus;
    fv_test::TempDir dir;
    std::string appDir = dir.path() + "/data";
    std::string dbPath = appDir + "/fv_transfers_v8.db";

    void SetUp() override { CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(utf8ToWide(appDir)); }
    void TearDown() override { CFvTransfersInitializer::unitialize(); }
};

} // namespace

TEST_F(Initializer, StartsWithoutASystemBusAndKeepsOneServiceThreadWhenCalledTwice)
{
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    const auto first = CServiceWindow::getInstance();
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    EXPECT_EQ(first, CServiceWindow::getInstance());

    CFvTransfersInitializer::unitialize();
    EXPECT_THROW(CServiceWindow::getInstance(), CServiceWindow::CNotInitializedException);
    // A later start brings up a new service thread.
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    EXPECT_NO_THROW(CServiceWindow::getInstance());
}

TEST_F(Initializer, LeavesTheDatabaseToItsFirstUser)
{
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    EXPECT_FALSE(Poco::File(dbPath).exists());

    ASSERT_TRUE(CDbHolder::getInstance()->isConnected());
    ASSERT_TRUE(Poco::File(dbPath).exists());
    struct stat st {};
    ASSERT_EQ(0, ::stat(dbPath.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST_F(Initializer, ATableHeldAcrossARestartKeepsWorkingAndTheNextUserGetsAFreshHolder)
{
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    auto groups = CDbHolder::getInstance()->getGroupsDbInfo();
    CGroupsDbInfo::GroupInfo group;
    group.GroupId = 4;
    group.BucketUid = "b4";
    ASSERT_TRUE(groups->insert(group));

    CFvTransfersInitializer::unitialize();
    ASSERT_TRUE(CFvTransfersInitializer::initialize());

    std::vector<CGroupsDbInfo::GroupInfo> rows;
    ASSERT_TRUE(groups->selectAll(rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("b4", rows[0].BucketUid);
    rows.clear();
    ASSERT_TRUE(CDbHolder::getInstance()->getGroupsDbInfo()->selectAll(rows));
    ASSERT_EQ(1u, rows.size());
}

TEST_F(Initializer, ALogLineAfterUnitializeOpensTheLogAgain)
{
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    FV_LOG_INFO("first run");
    CFvTransfersInitializer::unitialize();
    FV_LOG_INFO("after shutdown");
    const std::string text = fv_test::readFile(appDir + "/fv_transfers.log");
    EXPECT_NE(std::string::npos, text.find("first run"));
    EXPECT_NE(std::string::npos, text.find("after shutdown"));
}

TEST_F(Initializer, ListensForPowerEventsWhenLogindIsThere)
{
    fv_test::FakeLogind logind;
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    EXPECT_TRUE(CServiceWindow::getInstance()->listensToPower());
}
