#include "shell/FerrovanLogger.h"
#include "shell/InMemoryLogger.h"
#include "shell/Logger.h"

#include "LogFileTestSupport.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include <Poco/RegularExpression.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using ferrovan::CFerrovanLogger;
using ferrovan::InMemoryLogger;
using ferrovan::logLine;
using fv_test::kLogLinePrefix;
using fv_test::linesOf;
using Poco::Message;

class DelayedLog : public ::testing::Test {
protected:
    void TearDown() override { CFerrovanLogger::destroyInstance(); }

    // The file log as start-up has it when it replays: its path just set.
    std::vector<std::string> replayedLines() const
    {
        CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log"));
        ferrovan::replayDelayedMessages(m_delayed, CFerrovanLogger::getInstance());
        CFerrovanLogger::destroyInstance();
        return linesOf(fv_test::readFile(m_dir.file("fv_app.log")));
    }

    fv_test::TempDir m_dir;
    InMemoryLogger m_delayed;
};

TEST_F(DelayedLog, ReplaysEveryPriorityUpToInformationInOrderAtItsOwnPriority)
{
    struct Case {
        Message::Priority priority;
        const char* name;
        bool replayed;
    };
    const Case cases[] = {
        {Message::PRIO_NOTICE, "Notice", true},   {Message::PRIO_FATAL, "Fatal", true},
        {Message::PRIO_DEBUG, "Debug", false},    {Message::PRIO_CRITICAL, "Critical", true},
        {Message::PRIO_ERROR, "Error", true},     {Message::PRIO_TRACE, "Trace", false},
        {Message::PRIO_WARNING, "Warning", true}, {Message::PRIO_INFORMATION, "Information", true},
    };
    for (const Case& c : cases)
        logLine(&m_delayed, c.priority, std::string("kept at ") + c.name);

    const std::vector<std::string> lines = replayedLines();
    std::size_t at = 0;
    for (const Case& c : cases) {
        if (!c.replayed)
            continue;
        ASSERT_LT(at, lines.size()) << c.name;
        const std::string priority = std::string(R"(\[)") + c.name + R"(\] )";
        const Poco::RegularExpression expected(std::string("^") + kLogLinePrefix + priority + R"(\[DELAYED\] )" +
                                               kLogLinePrefix + priority + "kept at " + c.name + "$");
        EXPECT_TRUE(expected.match(lines[at])) << lines[at];
        ++at;
    }
    EXPECT_EQ(at, lines.size());
    // The delayed log keeps what it replayed.
    EXPECT_EQ(6u, m_delayed.getMessages().size());
}

TEST_F(DelayedLog, KeepsTheFirstThousandMessagesAndTheReplaySaysHowManyWereDropped)
{
    for (int i = 0; i < 1003; ++i)
        logLine(&m_delayed, Message::PRIO_INFORMATION, "delayed " + std::to_string(i) + ".");
    const auto messages = m_delayed.getMessages();
    ASSERT_EQ(1000u, messages.size());
    EXPECT_EQ(3u, m_delayed.getDroppedCount());
    EXPECT_NE(std::string::npos, messages.front().getText().find("delayed 0."));
    EXPECT_NE(std::string::npos, messages.back().getText().find("delayed 999."));

    const std::vector<std::string> lines = replayedLines();
    ASSERT_EQ(1001u, lines.size());
    EXPECT_NE(std::string::npos, lines[999].find("delayed 999."));
    EXPECT_NE(std::string::npos, lines[1000].find("[Warning] ferrovan::replayDelayedMessages: 3 later delayed "
                                                  "messages were dropped"))
        << lines[1000];
}

TEST_F(DelayedLog, NothingIsReplayedIntoNoLog)
{
    logLine(&m_delayed, Message::PRIO_ERROR, "kept");
    ferrovan::replayDelayedMessages(m_delayed, nullptr);
    EXPECT_EQ(1u, m_delayed.getMessages().size());
}

TEST_F(DelayedLog, KeepsWholeLinesInOrderFromThreadsThatHoldItsLockWhileLogging)
{
    fv_test::Watchdog watchdog("threads logging to the delayed log", std::chrono::seconds(60));
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i) {
                m_delayed.lock();
                logLine(&m_delayed, Message::PRIO_WARNING,
                        "thread " + std::to_string(t) + " line " + std::to_string(i));
                m_delayed.unlock();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    const Poco::RegularExpression whole(std::string(R"(^\[DELAYED\] )") + kLogLinePrefix +
                                        R"(\[Warning\] thread (\d) line (\d+)$)");
    std::map<int, int> nextLine;
    const auto messages = m_delayed.getMessages();
    ASSERT_EQ(static_cast<std::size_t>(kThreads * kLines), messages.size());
    for (const Message& message : messages) {
        EXPECT_EQ(Message::PRIO_WARNING, message.getPriority());
        std::vector<std::string> parts;
        ASSERT_EQ(3, whole.split(message.getText(), parts)) << message.getText();
        const int thread = std::stoi(parts[1]);
        EXPECT_EQ(nextLine[thread]++, std::stoi(parts[2])) << message.getText();
    }
}

} // namespace
