#include "shell/FerrovanLogger.h"
#include "shell/Logger.h"

#include "LogFileTestSupport.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include <Poco/File.h>
#include <Poco/RegularExpression.h>
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <dirent.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using ferrovan::CFerrovanLogger;
using ferrovan::logLine;
using fv_test::kLogLinePrefix;
using fv_test::linesOf;
using fv_test::modeOf;
using Poco::Message;

std::set<std::string> filesIn(const std::string& folder)
{
    std::set<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.insert(name);
    }
    ::closedir(dir);
    return names;
}

// The usual umask, under which a plainly created file is readable by everyone.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_previous); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_previous;
};

class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::string& folder)
    {
        char previous[PATH_MAX];
        if (::getcwd(previous, sizeof previous) != nullptr)
            m_previous = previous;
        EXPECT_EQ(0, ::chdir(folder.c_str()));
    }
    ~ScopedWorkingDirectory() { EXPECT_EQ(0, ::chdir(m_previous.c_str())); }
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

private:
    std::string m_previous = "/";
};

class FerrovanLogger : public ::testing::Test {
protected:
    void TearDown() override { CFerrovanLogger::destroyInstance(); }

    std::string logPath() const { return m_dir.file("fv_app.log"); }
    void openLog() const { CFerrovanLogger::setLogFilePath(logPath()); }
    static void write(Message::Priority priority, const std::string& text)
    {
        logLine(CFerrovanLogger::getInstance(), priority, text);
    }
    std::string logText() const { return fv_test::readFile(logPath()); }

    fv_test::TempDir m_dir;
    ScopedUmask m_umask{022};
};

TEST_F(FerrovanLogger, VerbosityDecidesWhichPrioritiesReachTheFile)
{
    enum Verbosity { kUntouched, kOn, kOff };
    struct Case {
        Verbosity verbosity;
        Message::Priority priority;
        bool written;
    };
    // Off is the level the log starts at, not the more talkative debug.
    const Case cases[] = {
        {kUntouched, Message::PRIO_TRACE, false},
        {kUntouched, Message::PRIO_DEBUG, false},
        {kUntouched, Message::PRIO_INFORMATION, true},
        {kUntouched, Message::PRIO_ERROR, true},
        {kOn, Message::PRIO_TRACE, true},
        {kOn, Message::PRIO_DEBUG, true},
        {kOn, Message::PRIO_INFORMATION, true},
        {kOff, Message::PRIO_TRACE, false},
        {kOff, Message::PRIO_DEBUG, false},
        {kOff, Message::PRIO_INFORMATION, true},
        {kOff, Message::PRIO_WARNING, true},
    };
    openLog();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        if (cases[i].verbosity != kUntouched)
            CFerrovanLogger::setVerbose(cases[i].verbosity == kOn);
        write(cases[i].priority, "case " + std::to_string(i) + ".");
    }
    const std::string text = logText();
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].written, text.find("case " + std::to_string(i) + ".") != std::string::npos) << "case " << i;
}

TEST_F(FerrovanLogger, WritesNothingAndCreatesNoFileBeforeItsPathIsSet)
{
    fv_test::TempDir workingFolder;
    {
        ScopedWorkingDirectory cwd(workingFolder.path());
        for (Message::Priority priority : {Message::PRIO_FATAL, Message::PRIO_ERROR, Message::PRIO_INFORMATION})
            write(priority, "before the path");
        CFerrovanLogger::setLogFilePath("");
        write(Message::PRIO_ERROR, "after an empty path");
        EXPECT_EQ(std::set<std::string>{}, filesIn(workingFolder.path()));
        EXPECT_EQ(std::set<std::string>{}, filesIn(m_dir.path()));

        openLog();
        write(Message::PRIO_INFORMATION, "after the path");
        EXPECT_EQ(std::set<std::string>{}, filesIn(workingFolder.path()));
    }
    const std::string text = logText();
    EXPECT_EQ(std::string::npos, text.find("before the path"));
    EXPECT_EQ(std::string::npos, text.find("after an empty path"));
    EXPECT_NE(std::string::npos, text.find("after the path"));
    EXPECT_EQ(0600u, modeOf(logPath()));
}

TEST_F(FerrovanLogger, ANewPathTakesEffectAtTheNextLine)
{
    const std::string otherPath = m_dir.file("other.log");
    openLog();
    write(Message::PRIO_INFORMATION, "first file");
    CFerrovanLogger::setLogFilePath(otherPath);
    write(Message::PRIO_INFORMATION, "second file");
    EXPECT_EQ(std::string::npos, logText().find("second file"));
    EXPECT_NE(std::string::npos, fv_test::readFile(otherPath).find("second file"));
    EXPECT_EQ(std::string::npos, fv_test::readFile(otherPath).find("first file"));
}

// The number a line of the rotation test carries.
int lineNumberOf(const std::string& line)
{
    const std::string::size_type at = line.find("] line ");
    return at == std::string::npos ? -1 : std::stoi(line.substr(at + 7));
}

TEST_F(FerrovanLogger, RotatesAtTwoMebibytesKeepingTheFiveNewestFilesOwnerOnly)
{
    // A log left by an older run, readable by everyone: tightened, and appended to.
    fv_test::writeFile(logPath(), "an older run\n");
    ASSERT_EQ(0, ::chmod(logPath().c_str(), 0644));
    openLog();
    const std::string filler(1000, 'x');
    for (int i = 0; i < 12 * 1024; ++i)
        write(Message::PRIO_INFORMATION, "line " + std::to_string(i) + " " + filler);
    CFerrovanLogger::destroyInstance();

    const std::set<std::string> files = filesIn(m_dir.path());
    const std::set<std::string> allowed = {"fv_app.log",   "fv_app.log.0", "fv_app.log.1",
                                           "fv_app.log.2", "fv_app.log.3", "fv_app.log.4"};
    EXPECT_EQ(allowed, files);
    for (const std::string& name : files) {
        EXPECT_EQ(0600u, modeOf(m_dir.file(name))) << name;
        struct stat status {};
        ASSERT_EQ(0, ::stat(m_dir.file(name).c_str(), &status));
        EXPECT_LE(status.st_size, 2 * 1024 * 1024 + 2048) << name;
    }
    // No line is missing between a rotated file and the next newer one.
    std::string newer = fv_test::readFile(logPath());
    for (const char* older : {"fv_app.log.0", "fv_app.log.1", "fv_app.log.2", "fv_app.log.3"}) {
        const std::string text = fv_test::readFile(m_dir.file(older));
        const std::vector<std::string> olderLines = linesOf(text);
        const std::vector<std::string> newerLines = linesOf(newer);
        ASSERT_FALSE(olderLines.empty() || newerLines.empty()) << older;
        EXPECT_EQ(lineNumberOf(olderLines.back()) + 1, lineNumberOf(newerLines.front())) << older;
        newer = text;
    }
}

// Poco frees the file of a rotation that fails, yet keeps it: closing the channel after that
// must not free it again.
TEST_F(FerrovanLogger, ARemovedLogFileOrFolderCostsLinesNotTheProcess)
{
    struct Case {
        const char* removed;
        bool folder;
    };
    const Case cases[] = {{"the log file", false}, {"the log folder", true}};
    for (const Case& c : cases) {
        const std::string folder = m_dir.file(c.folder ? "folder-removed" : "file-removed");
        const std::string path = folder + "/fv_app.log";
        Poco::File(folder).createDirectories();
        CFerrovanLogger::setLogFilePath(path);
        write(Message::PRIO_INFORMATION, "first");
        Poco::File(c.folder ? folder : path).remove(true);
        const std::string line(4096, 'x');
        for (int i = 0; i < 700; ++i) // past the 2 MiB rotation size
            write(Message::PRIO_INFORMATION, line);
        Poco::File(folder).createDirectories();
        write(Message::PRIO_INFORMATION, "after the removal");
        CFerrovanLogger::destroyInstance();
        EXPECT_NE(std::string::npos, fv_test::readFile(path).find("after the removal")) << c.removed;
    }
}

TEST_F(FerrovanLogger, EveryLineIsWholeWhenThreadsLogAtOnce)
{
    fv_test::Watchdog watchdog("eight threads logging", std::chrono::seconds(110));
    constexpr int kThreads = 8;
    constexpr int kLines = 2000;
    openLog();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            ferrovan::ILogger* log = CFerrovanLogger::getInstance();
            for (int i = 0; i < kLines; ++i) {
                const std::string text = "thread " + std::to_string(t) + " line " + std::to_string(i);
                if (t == 0) {
                    // A component that holds the lock across a call that logs.
                    log->lock();
                    logLine(log, Message::PRIO_INFORMATION, text);
                    log->unlock();
                } else {
                    if (t == 1)
                        CFerrovanLogger::setVerbose(i % 2 == 0);
                    logLine(log, Message::PRIO_INFORMATION, text);
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    const Poco::RegularExpression whole(std::string("^") + kLogLinePrefix +
                                        R"(\[Information\] thread (\d) line (\d+)$)");
    std::map<int, int> nextLine;
    int lines = 0;
    for (const std::string& line : linesOf(logText())) {
        std::vector<std::string> parts;
        ASSERT_EQ(3, whole.split(line, parts)) << line;
        const int thread = std::stoi(parts[1]);
        EXPECT_EQ(nextLine[thread]++, std::stoi(parts[2])) << line;
        ++lines;
    }
    EXPECT_EQ(kThreads * kLines, lines);
}

} // namespace
