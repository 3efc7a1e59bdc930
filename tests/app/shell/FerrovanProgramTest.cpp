#include "app/shell/FerrovanProgram.h"
#include "support/fixtures/Watchdog.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

using namespace fv_test;
using namespace std::chrono_literals;

namespace {

const char* const kStarting = kStartingBanner;
const char* const kExiting = kExitingBanner;

class FerrovanProgramTest : public FerrovanProgram {
protected:
    // Started, then stopped as a desktop session stops it: the whole shutdown runs.
    void runAndStop(const std::string& what)
    {
        // A banner of the last run says nothing of this one.
        if (Poco::File(file("fv_app.log")).exists())
            Poco::File(file("fv_app.log")).remove();
        auto program = start({});
        ASSERT_TRUE(waitForLog(kStarting)) << what;
        program->signal(SIGTERM);
        EXPECT_EQ(0, program->waitExit(60s)) << what;
        EXPECT_NE(std::string::npos, log().find(kExiting)) << what;
    }
};

} // namespace

// A restart that clears data waits for the program it replaces, and only then removes what
// was asked: the database with its side files and every log, but nothing else.
TEST_F(FerrovanProgramTest, ARestartThatClearsDataWaitsForTheRunningProgramFirst)
{
    Watchdog watchdog("restart clearing data", 110s);
    const std::vector<std::string> removed{
        "fv_transfers_v8.db", "fv_transfers_v8.db-wal", "fv_transfers_v8.db-shm", "fv_app.log.0",
        "browser.log",        "fv_transfers.log"};
    for (const std::string& name : removed)
        writeFile(file(name), name == "browser.log" ? std::string(3 * 1024 * 1024, 'b') : name);
    writeFile(file("fv_app.log"), "an older run\n");
    writeFile(file("fv_settings.json"), "{\"autoUpdatesEnabled\": false}");
    Poco::File(file("Cache")).createDirectories();
    writeFile(file("Cache/x"), "x");

    auto first = start({});
    ASSERT_TRUE(waitForLog(kStarting));
    auto second = start({"--reset-logs", "--reset-local-db", "--wait-for-pid", std::to_string(first->pid())});
    std::this_thread::sleep_for(1s);
    for (const std::string& name : removed)
        EXPECT_TRUE(Poco::File(file(name)).exists()) << name << " went while its program ran";
    EXPECT_FALSE(second->waitExit(0ms));

    first->signal(SIGTERM);
    ASSERT_EQ(0, first->waitExit(60s));
    ASSERT_TRUE(waitUntil(
        [&] {
            return log().find(kStarting) != std::string::npos && log().find("an older run") == std::string::npos &&
                   log().find(kExiting) == std::string::npos;
        },
        60000));
    for (const std::string& name : removed)
        EXPECT_FALSE(Poco::File(file(name)).exists()) << name;
    EXPECT_TRUE(Poco::File(file("fv_settings.json")).exists());
    EXPECT_TRUE(Poco::File(file("Cache/x")).exists());
    const std::string text = log();
    const std::size_t replayed = text.find("[DELAYED] ");
    ASSERT_NE(std::string::npos, replayed);
    EXPECT_NE(std::string::npos, text.find("Removing file: " + file("browser.log"))) << text;
    EXPECT_LT(replayed, text.find(kStarting));

    second->signal(SIGTERM);
    EXPECT_EQ(0, second->waitExit(60s));
}

TEST_F(FerrovanProgramTest, AnyUnusableSettingsFileLeavesTheProgramRunning)
{
    Watchdog watchdog("bad settings files", 110s);
    const std::pair<const char*, std::string> files[] = {
        {"an array", "[]"},
        {"cut short", "{\"window\": {\"top\": 1"},
        {"too large", std::string(10 * 1024 * 1024 + 1, ' ')},
    };
    for (const auto& [what, content] : files) {
        writeFile(file("fv_settings.json"), content);
        runAndStop(what);
    }
}

TEST_F(FerrovanProgramTest, WithoutADisplayTheProgramEndsWithAnErrorInsteadOfCrashing)
{
    Watchdog watchdog("no display");
    auto program = start({}, {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
    EXPECT_EQ(2, program->waitExit(60s));
    const std::string text = log();
    EXPECT_NE(std::string::npos, text.find("[Error] ")) << text;
    EXPECT_NE(std::string::npos, text.find("Unable to start the user interface")) << text;
    EXPECT_NE(std::string::npos, text.find(kExiting));
}
