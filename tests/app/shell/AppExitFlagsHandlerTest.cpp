#include "shell/AppExitFlagsHandler.h"

#include "app/shell/DataFolder.h"
#include "app/shell/LogFileTestSupport.h"
#include "app/shell/ScopedVariable.h"
#include "support/fixtures/ChildProcess.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/Process.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace {

using ferrovan::AppExitFlags;
using ferrovan::AppExitFlagsHandler;
using fv_test::DataFolder;
using Poco::Message;
using Arguments = std::vector<std::string>;

struct MergeCase {
    const char* name;
    std::vector<Arguments> queued;
    Arguments merged; // without the final "--wait-for-pid" <pid>
};

// One restart carries every queued wish, each reset once, and waits for this process only.
TEST(AppExitFlagsHandler, MergesTheQueuedRestartArguments)
{
    const MergeCase cases[] = {
        {"none queued", {}, {}},
        {"the menu's list",
         {{"--reset-logs", "--reset-settings", "--wait-for-pid", "77"}},
         {"--reset-logs", "--reset-settings"}},
        {"two lists in queue order",
         {{"--reset-local-db", "--wait-for-pid", "77"}, {"--reset-logs", "--reset-local-db", "--wait-for-pid", "77"}},
         {"--reset-local-db", "--reset-logs"}},
        {"options with values kept whole",
         {{"--app-url", "http://a", "--reset-logs"}, {"--app-url", "http://a", "--wait-for-pid"}},
         {"--app-url", "http://a", "--reset-logs", "--app-url", "http://a"}},
    };
    for (const auto& c : cases) {
        Arguments expected = c.merged;
        expected.insert(expected.end(), {"--wait-for-pid", "4321"});
        EXPECT_EQ(AppExitFlagsHandler::mergeRestartArguments(c.queued, 4321), expected) << c.name;
    }
}

// The program's stand-in records its arguments in a folder of the test's own.
class RestartTest : public ::testing::Test {
protected:
    RestartTest() : data(FV_RECORD_ARGS) {}

    // The arguments the started process got (its program path first), once it has ended.
    Arguments argumentsOf(int pid)
    {
        EXPECT_EQ(std::optional<int>(0), fv_test::waitForChild(pid, std::chrono::seconds(20)));
        return fv_test::linesOf(fv_test::readFile(records.file("args." + std::to_string(pid))));
    }

    int recordedStarts()
    {
        int count = 0;
        for (Poco::DirectoryIterator it(records.path()), end; it != end; ++it)
            ++count;
        return count;
    }

    fv_test::Watchdog watchdog{"restart"};
    fv_test::TempDir records;
    fv_test::ScopedVariable recordsFolder{"FV_RECORD_ARGS_DIR", records.path().c_str()};
    DataFolder data;
};

TEST_F(RestartTest, TwoRestartFlagsStartTheProgramOnce)
{
    AppExitFlags flags;
    flags.pushFlag(AppExitFlags::kRestart, Arguments{"--reset-local-db", "--wait-for-pid", "1"});
    flags.pushFlag(AppExitFlags::kRestart, Arguments{"--reset-logs", "--wait-for-pid", "1"});

    const int pid = AppExitFlagsHandler(&data.log).handleFlags(flags, data.globals);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(flags.peekFlag(), AppExitFlags::kNone);
    EXPECT_EQ(argumentsOf(pid), (Arguments{FV_RECORD_ARGS, "--reset-local-db", "--reset-logs", "--wait-for-pid",
                                           std::to_string(Poco::Process::id())}));
    EXPECT_EQ(recordedStarts(), 1);
    EXPECT_EQ(data.log.count(Message::PRIO_ERROR, ""), 0);
}

// A flag that cannot be used is logged; the restart of the others still happens.
TEST_F(RestartTest, BadFlagsAreLoggedAndSkipped)
{
    AppExitFlags flags;
    flags.pushFlag(9);
    flags.pushFlag(AppExitFlags::kRestart, std::string("not a list"));
    flags.pushFlag(AppExitFlags::kRestart);

    const int pid = AppExitFlagsHandler(&data.log).handleFlags(flags, data.globals);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(argumentsOf(pid), (Arguments{FV_RECORD_ARGS, "--wait-for-pid", std::to_string(Poco::Process::id())}));
    EXPECT_EQ(data.log.count(Message::PRIO_ERROR, "Exception caught when handling exit flag: "), 2);
}

TEST_F(RestartTest, EmptyQueueStartsNothing)
{
    AppExitFlags flags;
    EXPECT_EQ(AppExitFlagsHandler(&data.log).handleFlags(flags, data.globals), 0);
    EXPECT_EQ(recordedStarts(), 0);
    EXPECT_TRUE(data.log.lines().empty());
}

// A program that cannot be started is logged, not thrown.
TEST(AppExitFlagsHandler, FailedLaunchIsLogged)
{
    fv_test::TempDir folder;
    fv_test::writeFile(folder.file("not-executable"), "#!/bin/sh\n");
    for (const std::string& program : {folder.file("missing"), folder.file("not-executable")}) {
        DataFolder data(program);
        AppExitFlags flags;
        flags.pushFlag(AppExitFlags::kRestart, Arguments{"--reset-logs"});
        EXPECT_EQ(AppExitFlagsHandler(&data.log).handleFlags(flags, data.globals), 0) << program;
        EXPECT_EQ(data.log.count(Message::PRIO_ERROR, "Failed to restart " + program), 1) << program;
    }
}

TEST(AppExitFlagsHandler, RestartNeedsTheEnvironment)
{
    DataFolder data;
    data.globals.environment = nullptr;
    AppExitFlags flags;
    flags.pushFlag(AppExitFlags::kRestart);
    EXPECT_THROW(AppExitFlagsHandler(&data.log).handleFlags(flags, data.globals), ferrovan::IncompleteGlobalObjects);
}

} // namespace
