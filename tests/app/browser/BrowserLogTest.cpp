#include "browser/BrowserLog.h"
#include "shell/FerrovanLogger.h"

#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using ferrovan::BrowserLog;
using namespace fv_test;

namespace {

// The log is process-wide; every test leaves it closed.
class BrowserLogTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        BrowserLog::close();
        ferrovan::CFerrovanLogger::destroyInstance();
    }

    std::string path() const { return m_dir.file("browser.log"); }

    static std::vector<std::string> lines(const std::string& text)
    {
        std::vector<std::string> result;
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);)
            result.push_back(line);
        return result;
    }

    TempDir m_dir;
};

// What the program's log writes too: "[day-month-year time:ms] [thread id name] [priority] text".
const std::regex kLinePattern(R"(\[\d{2}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3}\] \[\d+ [^\]]*\] \[(\w+)\] (.*))");

TEST_F(BrowserLogTest, WritesPrivateLinesInTheProgramLogsPattern)
{
    BrowserLog::open(path());
    BrowserLog::write(Poco::Message::PRIO_WARNING, "Load failed: http://127.0.0.1/");
    BrowserLog::write(Poco::Message::PRIO_ERROR, "Page process ended");
    BrowserLog::close();

    const std::vector<std::string> written = lines(readFile(path()));
    ASSERT_EQ(2u, written.size());
    std::smatch match;
    ASSERT_TRUE(std::regex_match(written[0], match, kLinePattern)) << written[0];
    EXPECT_EQ("Warning", match[1].str());
    EXPECT_EQ("Load failed: http://127.0.0.1/", match[2].str());
    ASSERT_TRUE(std::regex_match(written[1], match, kLinePattern)) << written[1];
    EXPECT_EQ("Error", match[1].str());

    struct stat status {};
    ASSERT_EQ(0, ::stat(path().c_str(), &status));
    EXPECT_EQ(0600u, status.st_mode & 0777u);
}

struct SizeAtOpen {
    const char* what;
    std::uintmax_t size;
    bool emptied;
};

TEST_F(BrowserLogTest, AFileOverTheLimitIsEmptiedAtOpenAndNeverRotated)
{
    const SizeAtOpen cases[] = {
        {"over the limit", BrowserLog::kMaxBytes + 1, true},
        {"at the limit", BrowserLog::kMaxBytes, false},
        {"small", 100, false},
    };
    for (const SizeAtOpen& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(path(), "");
        std::filesystem::resize_file(path(), c.size);
        BrowserLog::open(path());
        BrowserLog::write(Poco::Message::PRIO_INFORMATION, "after open");
        // Growing past the limit while open changes nothing until the next open.
        BrowserLog::write(Poco::Message::PRIO_INFORMATION, std::string(200, 'x'));
        BrowserLog::close();
        const std::uintmax_t size = std::filesystem::file_size(path());
        if (c.emptied)
            EXPECT_LT(size, 1000u);
        else
            EXPECT_GT(size, c.size);
        EXPECT_FALSE(std::filesystem::exists(path() + ".0"));
        EXPECT_FALSE(std::filesystem::exists(path() + ".1"));
    }
}

TEST_F(BrowserLogTest, WritesNothingWhileClosedAndAFileThatCannotOpenLeavesItClosed)
{
    BrowserLog::write(Poco::Message::PRIO_ERROR, "before open");
    EXPECT_FALSE(std::filesystem::exists(path()));

    BrowserLog::open(path());
    BrowserLog::write(Poco::Message::PRIO_INFORMATION, "while open");
    BrowserLog::close();
    BrowserLog::write(Poco::Message::PRIO_ERROR, "after close");
    const std::vector<std::string> written = lines(readFile(path()));
    ASSERT_EQ(1u, written.size());
    EXPECT_NE(std::string::npos, written[0].find("while open"));

    // A folder that is not there: the log stays closed, the program's log says why.
    ferrovan::CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log"));
    const std::string unreachable = m_dir.file("missing/browser.log");
    BrowserLog::open(unreachable);
    BrowserLog::write(Poco::Message::PRIO_ERROR, "nowhere");
    EXPECT_FALSE(std::filesystem::exists(unreachable));
    EXPECT_NE(std::string::npos, readFile(m_dir.file("fv_app.log")).find("cannot open \"" + unreachable + "\""));

    // Opening again after the failure works, and a second open of an open log moves it.
    BrowserLog::open(path());
    BrowserLog::open(m_dir.file("other.log"));
    BrowserLog::write(Poco::Message::PRIO_INFORMATION, "moved");
    EXPECT_EQ(1u, lines(readFile(path())).size());
    EXPECT_EQ(1u, lines(readFile(m_dir.file("other.log"))).size());
}

TEST_F(BrowserLogTest, ConcurrentWritersAndReopensKeepEveryLineWhole)
{
    Watchdog watchdog("concurrent browser log", std::chrono::seconds(60));
    constexpr int kWriters = 6;
    constexpr int kLinesEach = 300;
    BrowserLog::open(path());
    std::vector<std::thread> threads;
    for (int writer = 0; writer < kWriters; ++writer)
        threads.emplace_back([writer] {
            const std::string body(150, static_cast<char>('a' + writer));
            for (int n = 0; n < kLinesEach; ++n)
                BrowserLog::write(Poco::Message::PRIO_INFORMATION,
                                  std::to_string(writer) + ":" + std::to_string(n) + ":" + body);
        });
    // Opening the same file again meanwhile neither loses nor splits a line.
    threads.emplace_back([this] {
        for (int n = 0; n < 20; ++n)
            BrowserLog::open(path());
    });
    for (std::thread& thread : threads)
        thread.join();
    BrowserLog::close();

    const std::vector<std::string> written = lines(readFile(path()));
    ASSERT_EQ(static_cast<std::size_t>(kWriters * kLinesEach), written.size());
    const std::regex text(R"((\d+):(\d+):(\w+))");
    std::vector<int> next(kWriters, 0);
    for (const std::string& line : written) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, kLinePattern)) << line;
        const std::string message = match[2].str();
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(message, parts, text)) << line;
        const int writer = std::stoi(parts[1].str());
        ASSERT_LT(writer, kWriters);
        // Each writer's lines are whole and in its own order.
        EXPECT_EQ(next[writer]++, std::stoi(parts[2].str()));
        EXPECT_EQ(std::string(150, static_cast<char>('a' + writer)), parts[3].str());
    }
}

} // namespace
