#include "app/shell/FixedBundleInfo.h"
#include "app/shell/LogFileTestSupport.h"
#include "app/shell/RecordingAppRuntime.h"
#include "app/shell/ScopedVariable.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include "shell/AppBundleInfo.h"
#include "shell/AppEnvironment.h"
#include "shell/AppExitFlags.h"
#include "shell/AppRuntime.h"
#include "shell/FerrovanApplicationBase.h"

#include <Poco/File.h>
#include <Poco/Glob.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

using namespace fv_test;
using ferrovan::AppExitFlags;
using ferrovan::CommandLineArguments;
using ferrovan::FerrovanApplicationBase;
using ferrovan::IAppBundleInfo;
using ferrovan::IAppRuntime;

namespace {

using Steps = std::vector<std::string>;

class RecordingApplication : public FerrovanApplicationBase {
public:
    RecordingApplication(const CommandLineArguments& arguments, const std::string& executablePath, bool starts = true)
        : FerrovanApplicationBase(arguments, executablePath), m_starts(starts)
    {
    }
    Steps steps;
    std::function<void(RecordingApplication&)> inLoop;
    bool guardHeld = true;
    int handOverExit = 0;
    using FerrovanApplicationBase::exitFlags;

protected:
    std::unique_ptr<IAppBundleInfo> createBundleInfo() override
    {
        steps.push_back("bundle");
        return std::make_unique<FixedBundleInfo>();
    }
    std::unique_ptr<IAppRuntime> createRuntime() override
    {
        auto runtime = std::make_unique<RecordingAppRuntime>(steps);
        runtime->initializeResult = m_starts;
        runtime->duringLoop = [this] {
            if (inLoop)
                inLoop(*this);
        };
        return runtime;
    }
    bool acquireInstanceGuard() override
    {
        steps.push_back("guard");
        return guardHeld;
    }
    int handOverToRunningInstance() override
    {
        steps.push_back("handOver");
        return handOverExit;
    }
    void afterCommandLineCommands() override { steps.push_back("afterCommandLineCommands"); }
    void createMenuController() override { steps.push_back("menu"); }
    void createCefApp() override { steps.push_back("cefApp"); }
    bool beforeMessageLoop() override
    {
        steps.push_back("beforeMessageLoop");
        return true;
    }
    void afterMessageLoop() override { steps.push_back("afterMessageLoop"); }

private:
    bool m_starts;
};

class FerrovanApplicationTest : public ::testing::Test {
protected:
    std::string dataFile(const std::string& name) const { return m_home.path() + "/Ferrovan/" + name; }
    std::vector<std::string> logLines() const { return linesOf(readFile(dataFile("fv_app.log"))); }
    // The index of the only line holding `text`; -1 when none or more than one does.
    long onlyLine(const std::string& text) const
    {
        const std::vector<std::string> lines = logLines();
        long found = -1;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].find(text) == std::string::npos)
                continue;
            if (found >= 0)
                return -1;
            found = static_cast<long>(i);
        }
        return found;
    }

    TempDir m_home;
    ScopedVariable m_dataHome{"XDG_DATA_HOME", m_home.path().c_str()};
    ScopedVariable m_testMode{"FV_TEST_MODE", nullptr};
    TempDir m_records;
    CommandLineArguments m_arguments;
};

// The run's steps up to the toolkit's start, then `rest`.
Steps startSteps(const Steps& rest)
{
    Steps steps{"bundle",
                "guard",
                "afterCommandLineCommands",
                "menu",
                "cefApp",
                "runtime.executeProcess",
                "runtime.initialize"};
    steps.insert(steps.end(), rest.begin(), rest.end());
    return steps;
}

const char* const kStarting = "******************* Starting Ferrovan *******************";
const char* const kExiting = "******************* Exiting Ferrovan *******************";

} // namespace

TEST_F(FerrovanApplicationTest, RunsItsStepsInOrderAndLogsEachBannerOnce)
{
    Watchdog watchdog("application run");
    // A reset command gives the delayed log a line to replay.
    Poco::File(m_home.path() + "/Ferrovan").createDirectories();
    writeFile(dataFile("fv_settings.json"), "{}");
    m_arguments.dataKinds = {4};
    RecordingApplication application(m_arguments, "/nonexistent/Ferrovan");

    EXPECT_EQ(0, application.run());

    const Steps expected =
        startSteps({"beforeMessageLoop", "runtime.runMessageLoop", "afterMessageLoop", "runtime.shutdown"});
    EXPECT_EQ(expected, application.steps);
    EXPECT_FALSE(Poco::File(dataFile("fv_settings.json")).exists());
    const long removed = onlyLine("[DELAYED] ");
    const long starting = onlyLine(kStarting);
    const long initializing = onlyLine("Initializing fv-transfers!");
    const long exiting = onlyLine(kExiting);
    ASSERT_GE(removed, 0);
    EXPECT_NE(std::string::npos, logLines()[static_cast<std::size_t>(removed)].find("Removing file: "));
    EXPECT_LT(removed, starting);
    EXPECT_LT(starting, initializing);
    EXPECT_LT(initializing, exiting);
}

TEST_F(FerrovanApplicationTest, WithoutAToolkitNoLoopRunsButTheShutdownHalfDoes)
{
    Watchdog watchdog("application without a display");
    RecordingApplication application(m_arguments, "/nonexistent/Ferrovan", false);

    EXPECT_EQ(FerrovanApplicationBase::kExitNoDisplay, application.run());

    const Steps expected = startSteps({"runtime.shutdown"});
    EXPECT_EQ(expected, application.steps);
    EXPECT_GE(onlyLine("Unable to start the user interface"), 0);
    EXPECT_GE(onlyLine(kExiting), 0);
}

// The data and the log are the running instance's: a start that finds it touches neither.
TEST_F(FerrovanApplicationTest, AStartThatFindsAnotherInstanceOnlyHandsOver)
{
    Watchdog watchdog("application handing over");
    Poco::File(m_home.path() + "/Ferrovan").createDirectories();
    writeFile(dataFile("fv_settings.json"), "{}");
    m_arguments.dataKinds = {4};
    RecordingApplication application(m_arguments, "/nonexistent/Ferrovan");
    application.guardHeld = false;
    application.handOverExit = FerrovanApplicationBase::kExitInstanceUnreachable;

    EXPECT_EQ(FerrovanApplicationBase::kExitInstanceUnreachable, application.run());

    EXPECT_EQ(Steps({"bundle", "guard", "handOver"}), application.steps);
    EXPECT_TRUE(Poco::File(dataFile("fv_settings.json")).exists());
    EXPECT_FALSE(Poco::File(dataFile("fv_app.log")).exists());
}

TEST_F(FerrovanApplicationTest, WithoutAnAbsoluteDataFolderNothingRuns)
{
    Watchdog watchdog("application without a data folder");
    // Absolute, but no folder can be made there.
    ScopedVariable dataHome("XDG_DATA_HOME", "/proc/fv-no-such-folder");
    m_arguments.dataKinds = {1};
    RecordingApplication application(m_arguments, "/nonexistent/Ferrovan");

    const int exitCode = application.run();

    EXPECT_EQ(FerrovanApplicationBase::kExitNoDataFolder, exitCode);
    EXPECT_EQ(Steps{"bundle"}, application.steps);
}

// Queued restarts start the program once, after the library has ended and while the log
// still takes the outcome.
TEST_F(FerrovanApplicationTest, ARestartQueuedDuringTheRunStartsTheProgramOnceAfterShutdown)
{
    Watchdog watchdog("application restart");
    ScopedVariable recordsFolder("FV_RECORD_ARGS_DIR", m_records.path().c_str());
    RecordingApplication application(m_arguments, FV_RECORD_ARGS);
    application.inLoop = [](RecordingApplication& self) {
        self.exitFlags()->pushFlag(AppExitFlags::kRestart, std::vector<std::string>{"--reset-logs"});
        self.exitFlags()->pushFlag(AppExitFlags::kRestart, std::vector<std::string>{"--reset-settings"});
    };

    EXPECT_EQ(0, application.run());

    std::set<std::string> started;
    ASSERT_TRUE(waitUntil(
        [&] {
            started.clear();
            Poco::Glob::glob(m_records.path() + "/args.*", started);
            return !started.empty() && started.begin()->find(".part") == std::string::npos;
        },
        20000));
    EXPECT_EQ(1u, started.size());
    const std::string arguments = readFile(*started.begin());
    EXPECT_NE(std::string::npos,
              arguments.find("--reset-logs\n--reset-settings\n--wait-for-pid\n" + std::to_string(::getpid()) + "\n"))
        << arguments;
}

TEST_F(FerrovanApplicationTest, AFailedRestartIsLoggedAndTheRunStillEndsWell)
{
    Watchdog watchdog("failed restart");
    RecordingApplication application(m_arguments, m_home.path() + "/no-such-program");
    application.inLoop = [](RecordingApplication& self) {
        self.exitFlags()->pushFlag(AppExitFlags::kRestart, std::vector<std::string>{"--reset-logs"});
        // A payload of the wrong kind fails its flag alone.
        self.exitFlags()->pushFlag(AppExitFlags::kRestart, 42);
    };

    EXPECT_EQ(0, application.run());

    const long exiting = onlyLine(kExiting);
    const long failed = onlyLine("Failed to restart");
    const long badFlag = onlyLine("Exception caught when handling exit flag");
    ASSERT_GE(exiting, 0);
    EXPECT_GT(failed, exiting);
    EXPECT_GT(badFlag, exiting);
}
