#include "shell/FerrovanLogger.h"
#include "shell/FileUrl.h"
#include "shell/OsFileExplorer.h"

#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/DbusMock.h"
#include "support/gui/FakeDesktopHandlers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

using ferrovan::CFerrovanLogger;
using fv_test::DbusMock;
using fv_test::FakeDesktopHandlers;
using Lines = std::vector<std::string>;

const char* const kFileManagerName = "org.freedesktop.FileManager1";
const char* const kFileManagerPath = "/org/freedesktop/FileManager1";
// Generous: a launch starts a shell on a machine that may be loaded.
constexpr std::chrono::seconds kLaunchDeadline{30};

// GIO reads the desktop's handlers once, so they are written before any test touches GIO.
FakeDesktopHandlers& handlers()
{
    static FakeDesktopHandlers instance;
    return instance;
}

std::string urlOf(const std::string& path)
{
    std::string url;
    EXPECT_TRUE(ferrovan::pathToFileUrl(path, url)) << path;
    return url;
}

std::string quotedList(const std::string& item)
{
    return "['" + item + "']";
}

class OsFileExplorer : public ::testing::Test {
protected:
    void SetUp() override
    {
        handlers().clear();
        CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log"));
        ASSERT_EQ(0, ::mkdir(folder().c_str(), 0700));
        fv_test::writeFile(file(), "x");
    }
    void TearDown() override { CFerrovanLogger::destroyInstance(); }

    std::string logText() const { return fv_test::readFile(m_dir.file("fv_app.log")); }
    // A folder and a file in it whose names need encoding.
    std::string folder() const { return m_dir.file("d\xC3\xA9p\xC3\xB4t #1"); }
    std::string file() const { return folder() + "/a b.txt"; }

    fv_test::Watchdog m_watchdog{"an OsFileExplorer test", std::chrono::seconds(100)};
    fv_test::TempDir m_dir;
    std::unique_ptr<ferrovan::IOsFileExplorer> m_explorer = ferrovan::createOsFileExplorer();
};

TEST_F(OsFileExplorer, OpenHandsWebAddressesToTheBrowserExactly)
{
    const std::string urls[] = {
        "https://example.test/path?q=1&b=%20x#frag",
        "http://127.0.0.1:8080/a?x=y",
        "HTTPS://user@Example.test",
        "http://[::1]:80/",
    };
    for (const std::string& url : urls) {
        handlers().clear();
        EXPECT_TRUE(m_explorer->open(url)) << url;
        EXPECT_EQ(Lines{url}, handlers().awaitBrowserCalls(1, kLaunchDeadline));
    }
    EXPECT_TRUE(handlers().fileManagerCalls().empty());
}

TEST_F(OsFileExplorer, OpenRefusesEverythingButWebAddressesWithAHost)
{
    const std::string refused[] = {
        "file:///etc/passwd",
        "javascript:alert(1)",
        "/bin/sh",
        "smb://server/share",
        "ftp://example.test/",
        "data:text/html,x",
        "https:example.test",
        "https://",
        "http:///path",
        "https://user@/",
        "//example.test/path",
        "https://example.test/a b",
        "https://example.test/\n/bin/sh",
        "",
    };
    for (const std::string& url : refused)
        EXPECT_FALSE(m_explorer->open(url)) << url;
    const std::string log = logText();
    std::size_t errors = 0;
    for (std::string::size_type at = 0; (at = log.find("OsFileExplorerLinux::open: refused", at)) != std::string::npos;
         ++at)
        ++errors;
    EXPECT_EQ(std::size(refused), errors) << log;

    // Launches are processes of their own: one allowed launch afterwards shows that nothing
    // else reached a handler.
    const std::string sentinel = "https://example.test/after";
    ASSERT_TRUE(m_explorer->open(sentinel));
    EXPECT_EQ(Lines{sentinel}, handlers().awaitBrowserCalls(1, kLaunchDeadline));
    EXPECT_EQ(Lines{sentinel}, handlers().browserCalls());
    EXPECT_TRUE(handlers().fileManagerCalls().empty());
}

TEST_F(OsFileExplorer, ShowInFolderAsksTheFileManagerToSelectAFileOrOpenAFolder)
{
    DbusMock fileManager(kFileManagerName, {kFileManagerName, kFileManagerPath, kFileManagerName});
    fileManager.addMethod(kFileManagerPath, kFileManagerName, "ShowItems", "ass");
    fileManager.addMethod(kFileManagerPath, kFileManagerName, "ShowFolders", "ass");

    EXPECT_TRUE(m_explorer->showInFolder(file()));
    EXPECT_TRUE(m_explorer->showInFolder(folder() + "/"));

    using Calls = std::vector<Lines>;
    EXPECT_EQ((Calls{{quotedList(urlOf(file())), "''"}}), fileManager.callsOf(kFileManagerPath, "ShowItems"));
    EXPECT_EQ((Calls{{quotedList(urlOf(folder())), "''"}}), fileManager.callsOf(kFileManagerPath, "ShowFolders"));
    EXPECT_TRUE(handlers().fileManagerCalls().empty());
}

TEST_F(OsFileExplorer, WithoutAFileManagerServiceTheFolderGoesToItsDefaultHandler)
{
    {
        // Present once, then gone: the name must be looked up at each call.
        DbusMock fileManager(kFileManagerName, {kFileManagerName, kFileManagerPath, kFileManagerName});
        fileManager.addMethod(kFileManagerPath, kFileManagerName, "ShowFolders", "ass");
        EXPECT_TRUE(m_explorer->showInFolder(folder()));
    }
    ASSERT_FALSE(DbusMock::hasOwner(kFileManagerName));

    // GIO hands a local folder to the handler as a path.
    EXPECT_TRUE(m_explorer->showInFolder(file()));
    EXPECT_EQ(Lines{folder()}, handlers().awaitFileManagerCalls(1, kLaunchDeadline));
    handlers().clear();
    EXPECT_TRUE(m_explorer->showInFolder(folder() + "/"));
    EXPECT_EQ(Lines{folder()}, handlers().awaitFileManagerCalls(1, kLaunchDeadline));
    EXPECT_TRUE(handlers().browserCalls().empty());
}

TEST_F(OsFileExplorer, ShowInFolderRefusesWhatIsNoExistingAbsolutePath)
{
    const std::string refused[] = {m_dir.file("missing"), "relative/path", "", urlOf(file()),
                                   file() + std::string(1, '\0')};
    for (const std::string& path : refused)
        EXPECT_FALSE(m_explorer->showInFolder(path)) << path;
    const std::string sentinel = "https://example.test/after";
    ASSERT_TRUE(m_explorer->open(sentinel));
    handlers().awaitBrowserCalls(1, kLaunchDeadline);
    EXPECT_TRUE(handlers().fileManagerCalls().empty());
}

} // namespace
