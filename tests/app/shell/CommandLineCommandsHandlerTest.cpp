#include "shell/CommandLineCommandsHandler.h"

#include "app/shell/ChildZombie.h"
#include "app/shell/DataFolder.h"
#include "support/fixtures/Watchdog.h"

#include <Poco/File.h>
#include <Poco/Path.h>
#include <Poco/Process.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace {

using ferrovan::CommandLineArguments;
using ferrovan::CommandLineCommandsHandler;
using fv_test::DataFolder;
using Poco::Message;

const std::vector<std::string> kEveryFile = {
    "fv_transfers_v8.db",
    "fv_transfers_v8.db-wal",
    "fv_transfers_v8.db-shm",
    "fv_transfers_v8.db-journal",
    "Cache/x",
    "Cache/web/y",
    "fv_transfers.log",
    "fv_transfers.log.1",
    "fv_app.log",
    "fv_app.log.0",
    "browser.log",
    "fv_settings.json",
    "instance.lock",
    "notes.txt",
};

void seed(const DataFolder& data, const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        Poco::File(Poco::Path(data.path(name)).parent()).createDirectories();
        fv_test::writeFile(data.path(name), "content of " + name + "\n");
    }
}

std::set<std::string> existing(const DataFolder& data, const std::vector<std::string>& names)
{
    std::set<std::string> found;
    for (const std::string& name : names)
        if (data.exists(name))
            found.insert(name);
    return found;
}

void runCommands(DataFolder& data, const CommandLineArguments& arguments)
{
    CommandLineCommandsHandler handler(arguments, data.globals);
    handler.waitForPreviousProcess();
    handler.runCommands();
}

CommandLineArguments resetting(std::vector<int> kinds)
{
    CommandLineArguments arguments;
    arguments.dataKinds = std::move(kinds);
    return arguments;
}

struct KindCase {
    const char* name;
    std::vector<int> kinds;
    std::vector<std::string> seeded;
    std::vector<std::string> removed; // the paths logged, each once
};

// Each kind takes exactly its own files and logs each before it goes; a folder goes whole.
TEST(CommandLineCommandsHandler, EachKindRemovesExactlyItsFiles)
{
    const KindCase cases[] = {
        {"database with every side file",
         {0},
         kEveryFile,
         {"fv_transfers_v8.db", "fv_transfers_v8.db-wal", "fv_transfers_v8.db-shm", "fv_transfers_v8.db-journal"}},
        {"database with -wal and -shm",
         {0},
         {"fv_transfers_v8.db", "fv_transfers_v8.db-wal", "fv_transfers_v8.db-shm", "notes.txt"},
         {"fv_transfers_v8.db", "fv_transfers_v8.db-wal", "fv_transfers_v8.db-shm"}},
        {"web data and cache", {1}, kEveryFile, {"Cache"}},
        {"logs",
         {2},
         kEveryFile,
         {"fv_transfers.log", "fv_transfers.log.1", "fv_app.log", "fv_app.log.0", "browser.log"}},
        {"settings", {4}, kEveryFile, {"fv_settings.json"}},
        {"a kind asked twice", {4, 4}, kEveryFile, {"fv_settings.json"}},
        {"nothing of the kind stored", {0, 2}, {"notes.txt"}, {}},
    };
    for (const auto& c : cases) {
        DataFolder data;
        seed(data, c.seeded);
        runCommands(data, resetting(c.kinds));

        std::set<std::string> kept(c.seeded.begin(), c.seeded.end());
        for (const std::string& removed : c.removed) {
            EXPECT_FALSE(data.exists(removed)) << c.name << ": " << removed;
            EXPECT_EQ(data.log.countEndingWith(Message::PRIO_INFORMATION, "Removing file: " + data.path(removed)), 1)
                << c.name << ": " << removed;
            for (auto it = kept.begin(); it != kept.end();)
                it = (*it == removed || it->rfind(removed + "/", 0) == 0) ? kept.erase(it) : std::next(it);
        }
        EXPECT_EQ(existing(data, c.seeded), kept) << c.name;
        EXPECT_EQ(data.log.count(Message::PRIO_INFORMATION, "Removing file: "), static_cast<int>(c.removed.size()))
            << c.name;
        EXPECT_EQ(data.log.count(Message::PRIO_ERROR, ""), 0) << c.name;
    }
}

// A missing browser log is not an error, and a file that cannot be removed (a non-empty folder
// in its place) is logged once while every other file of every kind still goes.
TEST(CommandLineCommandsHandler, FailuresNeverKeepTheOtherFiles)
{
    DataFolder data;
    std::vector<std::string> seeded;
    for (const std::string& name : kEveryFile)
        if (name != "browser.log" && name != "fv_transfers_v8.db-wal")
            seeded.push_back(name);
    seed(data, seeded);
    seed(data, {"fv_transfers_v8.db-wal/inside"});

    CommandLineArguments arguments = resetting({0, 1, 2, 4});
    arguments.removeCefLog = true;
    runCommands(data, arguments);

    EXPECT_EQ(existing(data, kEveryFile),
              (std::set<std::string>{"fv_transfers_v8.db-wal", "instance.lock", "notes.txt"}));
    EXPECT_EQ(data.log.count(Message::PRIO_ERROR, "Exception caught when handling command line command: "), 1);
    EXPECT_EQ(data.log.count(Message::PRIO_ERROR, "fv_transfers_v8.db-wal"), 1);
}

// Only a report takes a copy of a large browser log's tail; a reset removes the log itself.
TEST(CommandLineCommandsHandler, LargeBrowserLogIsRemovedItself)
{
    DataFolder data;
    data.writeLog("browser.log", 3 * 1024 * 1024);
    runCommands(data, resetting({2}));
    EXPECT_FALSE(data.exists("browser.log"));
    EXPECT_EQ(data.log.countEndingWith(Message::PRIO_INFORMATION, "Removing file: " + data.path("browser.log")), 1);
}

TEST(CommandLineCommandsHandler, RemovesTheBrowserLogWhenAsked)
{
    for (bool present : {true, false}) {
        DataFolder data;
        seed(data,
             present ? std::vector<std::string>{"browser.log", "fv_app.log"} : std::vector<std::string>{"fv_app.log"});
        CommandLineArguments arguments;
        arguments.removeCefLog = true;
        runCommands(data, arguments);
        EXPECT_FALSE(data.exists("browser.log")) << present;
        EXPECT_TRUE(data.exists("fv_app.log")) << present;
        EXPECT_EQ(data.log.count(Message::PRIO_INFORMATION, "Removing file: "), present ? 1 : 0) << present;
        EXPECT_EQ(data.log.count(Message::PRIO_ERROR, ""), 0) << present;
    }
}

// Removal waits for the second step: the single-instance guard runs between the two.
TEST(CommandLineCommandsHandler, WaitingRemovesNothing)
{
    DataFolder data;
    seed(data, kEveryFile);
    const CommandLineArguments arguments = resetting({0, 1, 2, 4});
    CommandLineCommandsHandler handler(arguments, data.globals);
    handler.waitForPreviousProcess();
    EXPECT_EQ(existing(data, kEveryFile), std::set<std::string>(kEveryFile.begin(), kEveryFile.end()));
}

TEST(CommandLineCommandsHandler, ParserWarningsGoToTheDelayedLog)
{
    DataFolder data;
    CommandLineArguments arguments;
    arguments.warnings = {"first skipped option", "second skipped option"};
    CommandLineCommandsHandler(arguments, data.globals).waitForPreviousProcess();
    EXPECT_EQ(data.log.count(Message::PRIO_WARNING, "first skipped option"), 1);
    EXPECT_EQ(data.log.count(Message::PRIO_WARNING, "second skipped option"), 1);
}

TEST(CommandLineCommandsHandler, NeedsTheDelayedLogger)
{
    DataFolder data;
    data.globals.delayedLogger = nullptr;
    const CommandLineArguments arguments;
    EXPECT_THROW(CommandLineCommandsHandler(arguments, data.globals), ferrovan::IncompleteGlobalObjects);
}

// A live process is given up on after the time-out, with a warning.
TEST(CommandLineCommandsHandler, WaitGivesUpOnALiveProcess)
{
    fv_test::Watchdog watchdog("waiting for a live process");
    DataFolder data;
    Poco::ProcessHandle child = Poco::Process::launch("sleep", {"60"});
    CommandLineArguments arguments;
    arguments.waitForPid = static_cast<unsigned int>(child.id());
    CommandLineCommandsHandler(arguments, data.globals, 200).waitForPreviousProcess();
    Poco::Process::kill(child);
    child.wait();
    EXPECT_EQ(data.log.count(Message::PRIO_WARNING,
                             "Failed to wait for completion of the process with pid: " + std::to_string(child.id())),
              1);
}

// A process that has ended (unreaped, or gone entirely) needs no waiting: a wait that counted
// the zombie as running would outlast the watchdog.
TEST(CommandLineCommandsHandler, WaitEndsForEndedProcesses)
{
    fv_test::Watchdog watchdog("waiting for an ended process", std::chrono::seconds(60));
    Poco::ProcessHandle zombie = Poco::Process::launch("true", {});
    fv_test::awaitZombie(zombie.id());
    ASSERT_TRUE(fv_test::isUnreapedZombie(zombie.id()));

    Poco::ProcessHandle reaped = Poco::Process::launch("true", {});
    reaped.wait();

    for (const int pid : {zombie.id(), reaped.id()}) {
        DataFolder data;
        CommandLineArguments arguments;
        arguments.waitForPid = static_cast<unsigned int>(pid);
        CommandLineCommandsHandler(arguments, data.globals, 3600 * 1000).waitForPreviousProcess();
        EXPECT_EQ(data.log.count(Message::PRIO_WARNING, ""), 0) << pid;
    }
    zombie.wait();
}

} // namespace
