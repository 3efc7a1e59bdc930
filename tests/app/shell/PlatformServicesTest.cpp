#include "shell/AppBundleInfo.h"
#include "shell/PlatformInit.h"
#include "shell/PlatformServices.h"

#include "ChildZombie.h"
#include "PasswordDatabaseHome.h"
#include "ScopedVariable.h"

#include "support/fixtures/Watchdog.h"

#include "AppConfig.h"
#include "FvVersion.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using ferrovan::waitForProcessExit;

// A forked child that is killed and reaped when the scope ends, whatever the test did.
class Child {
public:
    enum class Kind { ExitsAtOnce, RunsUntilKilled };

    explicit Child(Kind kind) : m_pid(::fork())
    {
        if (m_pid == 0) {
            if (kind == Kind::RunsUntilKilled) {
                for (;;)
                    ::pause();
            }
            ::_exit(0);
        }
    }
    ~Child()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }

    bool isUnreapedZombie() const { return fv_test::isUnreapedZombie(m_pid); }
    void awaitZombie() const { fv_test::awaitZombie(m_pid); }

private:
    pid_t m_pid;
};

// A pid that was just freed: its process has been reaped.
unsigned int unusedPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return static_cast<unsigned int>(pid);
}

TEST(WaitForProcessExit, AZombieChildHasExited)
{
    fv_test::Watchdog watchdog("waiting for a zombie", std::chrono::seconds(60));
    Child child(Child::Kind::ExitsAtOnce);
    ASSERT_GT(child.pid(), 0);
    child.awaitZombie();
    EXPECT_TRUE(waitForProcessExit(static_cast<unsigned int>(child.pid()), 20000));
    // The wait neither reaped it nor needed it reaped.
    EXPECT_TRUE(child.isUnreapedZombie());
}

TEST(WaitForProcessExit, ALiveProcessOutlastsTheTimeOut)
{
    fv_test::Watchdog watchdog("waiting for a live child", std::chrono::seconds(60));
    Child child(Child::Kind::RunsUntilKilled);
    ASSERT_GT(child.pid(), 0);
    EXPECT_FALSE(waitForProcessExit(static_cast<unsigned int>(child.pid()), 200));
    EXPECT_FALSE(child.isUnreapedZombie());
}

// Without a limit the wait lasts until the process ends, here killed from another process.
TEST(WaitForProcessExit, NoTimeOutWaitsUntilTheEnd)
{
    fv_test::Watchdog watchdog("waiting without a limit", std::chrono::seconds(60));
    Child child(Child::Kind::RunsUntilKilled);
    ASSERT_GT(child.pid(), 0);
    const pid_t killer = ::fork();
    if (killer == 0) {
        ::usleep(100 * 1000);
        ::kill(child.pid(), SIGKILL);
        ::_exit(0);
    }
    EXPECT_TRUE(waitForProcessExit(static_cast<unsigned int>(child.pid()), 0));
    ::waitpid(killer, nullptr, 0);
}

TEST(WaitForProcessExit, NoSuchProcessCountsAsExited)
{
    fv_test::Watchdog watchdog("waiting for no process", std::chrono::seconds(60));
    for (const unsigned int pid : {unusedPid(), 0u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(waitForProcessExit(pid, 0)) << pid;
        EXPECT_TRUE(waitForProcessExit(pid, 200)) << pid;
    }
}

TEST(PlatformServices, ParentDirectoryOfAPath)
{
    const struct {
        const char* path;
        const char* parent;
    } cases[] = {
        {"/opt/ferrovan/bin/Ferrovan", "/opt/ferrovan/bin/"},
        {"/opt/ferrovan/bin/", "/opt/ferrovan/"},
        {"/opt//ferrovan/Ferrovan", "/opt/ferrovan/"},
        {"/Ferrovan", "/"},
        {"/", "/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ferrovan::getParentDirectory(c.path), c.parent) << c.path;
}

TEST(PlatformServices, ForwardSlashesReplaceEveryBackslash)
{
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"C:\\Users\\x\\file.txt", "C:/Users/x/file.txt"},
        {"\\\\server\\share", "//server/share"},
        {"already/forward", "already/forward"},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        ferrovan::toForwardSlashes(text);
        EXPECT_EQ(text, c.out) << c.in;
    }
}

// The home folder of the password database, as a user without $HOME has it.
TEST(PlatformServices, UserProfileIsHomeElseThePasswordDatabaseEntry)
{
    const std::string fromDatabase = fv_test::passwordDatabaseHome();
    ASSERT_FALSE(fromDatabase.empty());
    struct Case {
        const char* home;
        std::string expected;
    };
    const Case cases[] = {
        {"/home/someone else", "/home/someone else"},
        {"/", "/"},
        {nullptr, fromDatabase},
        {"", fromDatabase},
        {"relative/home", fromDatabase},
    };
    for (const Case& c : cases) {
        fv_test::ScopedVariable home("HOME", c.home);
        EXPECT_EQ(c.expected, ferrovan::getUserProfileDirectory()) << (c.home != nullptr ? c.home : "unset");
    }
}

TEST(PlatformServices, ResourcesFolderName)
{
    EXPECT_EQ(ferrovan::getResourcesDirectoryName(), "Resources");
}

TEST(PlatformServices, PlatformInitHasNothingToRefuse)
{
    EXPECT_TRUE(ferrovan::createPlatformInit()->init());
}

// The build's values, as configured; the update feed is the Linux one.
TEST(AppBundleInfo, GivesTheConfiguredIdentityAndAddresses)
{
    using Getter = bool (ferrovan::IAppBundleInfo::*)(std::string&);
    const struct {
        const char* name;
        Getter getter;
        std::string expected;
    } cases[] = {
        {"version", &ferrovan::IAppBundleInfo::getVersion, FV_VERSION_STRING},
        {"product", &ferrovan::IAppBundleInfo::getProductName, "Ferrovan"},
        {"display name", &ferrovan::IAppBundleInfo::getDisplayName, "Ferrovan"},
        {"web site", &ferrovan::IAppBundleInfo::getWebsiteUrl, FV_WEB_URL},
        {"web app path", &ferrovan::IAppBundleInfo::getWebAppPath, FV_WEB_APP_PATH},
        {"company", &ferrovan::IAppBundleInfo::getCompanyName, FV_COMPANY_NAME},
        {"update feed", &ferrovan::IAppBundleInfo::getAppcastUrl, FV_APPCAST_URL},
        {"REST", &ferrovan::IAppBundleInfo::getRestApiUrl, FV_REST_URL},
    };
    const auto info = ferrovan::createAppBundleInfo();
    for (const auto& c : cases) {
        std::string value = "stale";
        EXPECT_TRUE(((*info).*c.getter)(value)) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
        EXPECT_FALSE(value.empty()) << c.name;
    }
    std::string feed;
    info->getAppcastUrl(feed);
    const std::string linuxFeed = "/linux/v4.1/updates.xml";
    ASSERT_GE(feed.size(), linuxFeed.size());
    EXPECT_EQ(feed.substr(feed.size() - linuxFeed.size()), linuxFeed);
}

} // namespace
