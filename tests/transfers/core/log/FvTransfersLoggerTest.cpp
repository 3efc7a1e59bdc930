#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/log/FvTransfersLogger.h"
#include "core/log/LogPrefix.h"
#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace fv_transfers;

namespace {

struct LoggerFixture : ::testing::Test {
    fv_test::TempDir dir;
    std::string appDir = dir.path() + "/app/data";
    void SetUp() override { CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(utf8ToWide(appDir)); }
    void TearDown() override { CFvTransfersLogger::destroyInstance(); }
    std::string logText() const { return fv_test::readFile(appDir + "/fv_transfers.log"); }
};

} // namespace

TEST_F(LoggerFixture, FirstLineCreatesAPrivateFolderAndTheFile)
{
    EXPECT_EQ(appDir + "/fv_transfers.log", getLogFilePath());
    FV_LOG_INFO("hello " << 42);
    EXPECT_NE(std::string::npos, logText().find("[Information] hello 42"));
    struct stat st {};
    ASSERT_EQ(0, ::stat(appDir.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
}

TEST(Logger, WithoutAppFolderLogsToTheCurrentDirectory)
{
    CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(L"");
    EXPECT_EQ("fv_transfers.log", getLogFilePath());
}

// Lines before the configuration names a folder go to the current directory, and a logger once
// made stays on its file until it is destroyed, whatever folder is set meanwhile.
TEST_F(LoggerFixture, ALoggerKeepsItsFileUntilDestroyed)
{
    char* previous = ::getcwd(nullptr, 0);
    ASSERT_NE(nullptr, previous);
    const fv_test::TempDir cwd;
    ASSERT_EQ(0, ::chdir(cwd.path().c_str()));
    CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(L"");
    CFvTransfersLogger::destroyInstance();
    FV_LOG_INFO("before the folder");
    CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(utf8ToWide(appDir));
    FV_LOG_INFO("folder set, same logger");
    CFvTransfersLogger::destroyInstance();
    FV_LOG_INFO("new logger");
    EXPECT_EQ(0, ::chdir(previous));
    std::free(previous);

    const std::string early = fv_test::readFile(cwd.file("fv_transfers.log"));
    EXPECT_NE(std::string::npos, early.find("before the folder"));
    EXPECT_NE(std::string::npos, early.find("folder set, same logger"));
    EXPECT_EQ(std::string::npos, early.find("new logger"));
    const std::string late = logText();
    EXPECT_EQ(std::string::npos, late.find("folder set, same logger"));
    EXPECT_NE(std::string::npos, late.find("new logger"));
}

TEST_F(LoggerFixture, TraceIsDroppedUntilVerboseLoggingIsOn)
{
    FV_LOG_TRACE("early trace");
    FV_LOG_DEBUG("early debug");
    CFvTransfersGlobalConfig::getInstance()->setVerboseLogging(true);
    FV_LOG_TRACE("late trace");
    CFvTransfersGlobalConfig::getInstance()->setVerboseLogging(false);
    FV_LOG_TRACE("trace after verbose off");
    FV_LOG_DEBUG("debug after verbose off");
    FV_LOG_INFO("information after verbose off");
    const std::string text = logText();
    EXPECT_EQ(std::string::npos, text.find("early trace"));
    EXPECT_EQ(std::string::npos, text.find("early debug"));
    EXPECT_NE(std::string::npos, text.find("late trace"));
    EXPECT_EQ(std::string::npos, text.find("trace after verbose off"));
    EXPECT_EQ(std::string::npos, text.find("debug after verbose off"));
    EXPECT_NE(std::string::npos, text.find("information after verbose off"));
}

TEST_F(LoggerFixture, ALineAfterDestroyRecreatesTheLoggerAndAppends)
{
    FV_LOG_ERROR("before");
    CFvTransfersLogger::destroyInstance();
    FV_LOG_WARNING("after");
    const std::string text = logText();
    EXPECT_NE(std::string::npos, text.find("[Error] before"));
    EXPECT_NE(std::string::npos, text.find("[Warning] after"));
    EXPECT_LT(text.find("before"), text.find("after"));
}

// A holder handed out before unitialize stays usable: the chain is reopened, not the object freed.
TEST_F(LoggerFixture, AHolderHandedOutSurvivesDestroyInstance)
{
    CFvTransfersLogger* const held = CFvTransfersLogger::getInstance();
    ASSERT_NE(nullptr, held);
    CFvTransfersLogger::destroyInstance();
    FV_LOG_INFO("reopened");
    Poco::FastMutex::ScopedLock lock(CFvTransfersLogger::globalMutex());
    EXPECT_EQ(&Poco::Logger::get(CFvTransfersLogger::kLoggerName), &held->logger());
}

TEST_F(LoggerFixture, SecretsNeverReachTheFile)
{
    FV_LOG_INFO("Sending REST API request to /login. Request body: "
                << R"({"email":"a@b.c","password":"Hunter2!"})");
    FV_LOG_INFO("x-fv-auth-token: T0K3N");
    const std::string text = logText();
    EXPECT_EQ(std::string::npos, text.find("Hunter2!"));
    EXPECT_EQ(std::string::npos, text.find("T0K3N"));
    EXPECT_NE(std::string::npos, text.find("a@b.c"));
}

TEST_F(LoggerFixture, ConcurrentLinesStayWhole)
{
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                FV_LOG_INFO("line-begin t" << t << " i" << i << " " << std::string(100, 'x') << " line-end");
        });
    }
    for (auto& thread : threads)
        thread.join();
    const std::string text = logText();
    size_t lines = 0;
    size_t pos = 0;
    while ((pos = text.find('\n', pos)) != std::string::npos) {
        ++pos;
        ++lines;
    }
    EXPECT_EQ(static_cast<size_t>(kThreads * kLines), lines);
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        ASSERT_NE(std::string::npos, line.find("line-begin")) << line;
        ASSERT_EQ(line.size() - 8, line.rfind("line-end")) << line;
        start = end + 1;
    }
}

TEST(LogPrefix, Formats)
{
    struct Case {
        const char* name;
        int id;
        const char* detail;
        int subId;
        const char* expected;
    };
    const Case cases[] = {
        {"Group", 3, "", -1, "[Group[3]] "},       {"Group", 3, "abc", 2, "[Group[3]: abc: 2] "},
        {"Channel", 7, "", 0, "[Channel[7]: 0] "}, {"", 3, "abc", 2, ""},
        {"G", -1, "", -1, "[G[4294967295]] "},
    };
    for (const Case& c : cases) {
        CLogPrefix prefix(c.name, c.id, c.detail);
        prefix.subId = c.subId;
        EXPECT_EQ(c.expected, prefix.toString());
    }
}

// The user may remove the log folder while the library runs. When the file is due to rotate,
// the archive step cannot recreate it there; that must cost the log lines, never the process.
TEST_F(LoggerFixture, ALogFolderRemovedBeforeRotationCostsLinesNotTheProcess)
{
    FV_LOG_INFO("first");
    ASSERT_EQ(0, std::system(("rm -rf '" + dir.path() + "/app'").c_str()));
    const std::string line(4096, 'x');
    for (int i = 0; i < 700; ++i) // past the 2 MB rotation size
        FV_LOG_INFO(line);
    FV_LOG_INFO("after the folder came back");
    CFvTransfersLogger::destroyInstance();
    EXPECT_NE(std::string::npos, logText().find("after the folder came back"));
}
