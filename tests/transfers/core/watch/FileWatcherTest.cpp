#include "core/watch/DirectoriesWatcher.h"
#include "core/watch/FileWatcher.h"
#include "core/base/StringConversion.h"
#include "core/watch/efsw/FileWatcher.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include <Poco/Delegate.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using fv_transfers::CDirectoriesWatcher;
using fv_transfers::CFileWatcher;
using fv_transfers::dt_busy;
using fv_transfers::dt_general_error;
using fv_transfers::dt_success;
namespace files_watch = fv_transfers::files_watch;

namespace {

const int kAdded = files_watch::FileSystemEventAdded;
const int kDeleted = files_watch::FileSystemEventDeleted;
const int kModified = files_watch::FileSystemEventModified;

// One watched file and the events it raised.
struct WatchedFile {
    explicit WatchedFile(CDirectoriesWatcher& directories) : watcher(directories)
    {
        watcher.changeEvent += Poco::delegate(this, &WatchedFile::onChange);
    }
    ~WatchedFile() { watcher.changeEvent -= Poco::delegate(this, &WatchedFile::onChange); }

    int start(const std::string& path) { return watcher.startMonitoring(fv_transfers::utf8ToWide(path)); }
    void onChange(files_watch::FileSystemEvent& event) { events.record(event); }
    bool sawEvent(int event, int timeoutMs = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (std::size_t n = 1;; ++n) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (!events.waitForCount(n, std::max<int>(0, static_cast<int>(left.count()))))
                return false;
            if (events.values()[n - 1] == event)
                return true;
        }
    }

    CFileWatcher watcher;
    fv_test::EventRecorder<int> events;
};

void appendTo(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "ab");
    ASSERT_NE(nullptr, file);
    std::fputs(text.c_str(), file);
    std::fclose(file);
}

struct ActionListener : efsw::FileWatchListener {
    fv_test::EventRecorder<std::tuple<int, std::string, std::string>> actions;
    void handleFileAction(efsw::WatchID, const std::string&, const std::string& filename, efsw::Action action,
                          std::string oldFilename) override
    {
        actions.record(std::make_tuple(static_cast<int>(action), filename, oldFilename));
    }
};

} // namespace

TEST(FileWatcher, AddModifyDeleteOfTheWatchedFile)
{
    fv_test::TempDir dir;
    CDirectoriesWatcher directories;
    WatchedFile file(directories);
    ASSERT_EQ(dt_success, file.start(dir.file("a.txt")));

    fv_test::writeFile(dir.file("a.txt"), "one");
    EXPECT_TRUE(file.sawEvent(kAdded));
    appendTo(dir.file("a.txt"), "two");
    EXPECT_TRUE(file.sawEvent(kModified));
    ASSERT_EQ(0, ::unlink(dir.file("a.txt").c_str()));
    EXPECT_TRUE(file.sawEvent(kDeleted));
}

TEST(FileWatcher, TwoFilesInOneFolderShareOneWatchAndSeeOnlyTheirOwnEvents)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("a.txt"), "a");
    fv_test::writeFile(dir.file("b.txt"), "b");
    CDirectoriesWatcher directories;
    WatchedFile a(directories);
    WatchedFile b(directories);
    ASSERT_EQ(dt_success, a.start(dir.file("a.txt")));
    ASSERT_EQ(dt_success, b.start(dir.file("b.txt")));
    EXPECT_EQ(1u, directories.watchedFolderCount());

    appendTo(dir.file("b.txt"), "more");
    ASSERT_TRUE(b.sawEvent(kModified));
    // Both filters ran on the same notification before b heard of it.
    EXPECT_TRUE(a.events.values().empty());

    appendTo(dir.file("a.txt"), "more");
    ASSERT_TRUE(a.sawEvent(kModified));
}

TEST(FileWatcher, RenameAwayIsReportedAsDeletedAndRenameOverAsAdded)
{
    struct Case {
        const char* target; // relative to the temp dir
        int event;
    };
    const Case cases[] = {{"renamed.txt", kDeleted}, {"other/a.txt", kDeleted}};
    for (const Case& c : cases) {
        fv_test::TempDir dir;
        ASSERT_EQ(0, ::mkdir(dir.file("other").c_str(), 0700));
        fv_test::writeFile(dir.file("a.txt"), "a");
        CDirectoriesWatcher directories;
        WatchedFile file(directories);
        ASSERT_EQ(dt_success, file.start(dir.file("a.txt")));
        ASSERT_EQ(0, std::rename(dir.file("a.txt").c_str(), dir.file(c.target).c_str()));
        EXPECT_TRUE(file.sawEvent(c.event)) << c.target;
    }

    // Editors save by writing a new file and renaming it over the old one.
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("a.txt"), "a");
    CDirectoriesWatcher directories;
    WatchedFile file(directories);
    ASSERT_EQ(dt_success, file.start(dir.file("a.txt")));
    fv_test::writeFile(dir.file("a.txt.tmp"), "new");
    ASSERT_EQ(0, std::rename(dir.file("a.txt.tmp").c_str(), dir.file("a.txt").c_str()));
    EXPECT_TRUE(file.sawEvent(kAdded));
}

TEST(FileWatcher, MovingTheFolderAwayIsReportedAsDeleted)
{
    fv_test::TempDir dir;
    ASSERT_EQ(0, ::mkdir(dir.file("sub").c_str(), 0700));
    fv_test::writeFile(dir.file("sub/a.txt"), "a");
    CDirectoriesWatcher directories;
    WatchedFile file(directories);
    ASSERT_EQ(dt_success, file.start(dir.file("sub/a.txt")));
    ASSERT_EQ(0, std::rename(dir.file("sub").c_str(), dir.file("moved").c_str()));
    EXPECT_TRUE(file.sawEvent(kDeleted));
}

TEST(FileWatcher, FolderDeletedAndMadeAgainIsWatchedAgain)
{
    fv_test::TempDir dir;
    ASSERT_EQ(0, ::mkdir(dir.file("sub").c_str(), 0700));
    fv_test::writeFile(dir.file("sub/a.txt"), "a");
    CDirectoriesWatcher directories;
    WatchedFile first(directories);
    ASSERT_EQ(dt_success, first.start(dir.file("sub/a.txt")));
    ASSERT_EQ(0, ::unlink(dir.file("sub/a.txt").c_str()));
    ASSERT_EQ(0, ::rmdir(dir.file("sub").c_str()));
    // The file's deletion, then the folder's.
    ASSERT_TRUE(first.events.waitForCount(2));
    EXPECT_EQ((std::vector<int>{kDeleted, kDeleted}), first.events.values());
    EXPECT_EQ(0u, directories.watchedFolderCount());

    ASSERT_EQ(0, ::mkdir(dir.file("sub").c_str(), 0700));
    fv_test::writeFile(dir.file("sub/a.txt"), "a");
    WatchedFile second(directories);
    ASSERT_EQ(dt_success, second.start(dir.file("sub/a.txt")));
    appendTo(dir.file("sub/a.txt"), "more");
    EXPECT_TRUE(second.sawEvent(kModified));
}

TEST(FileWatcher, StartTwiceKeepsTheFirstFile)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("a.txt"), "a");
    CDirectoriesWatcher directories;
    WatchedFile file(directories);
    ASSERT_EQ(dt_success, file.start(dir.file("a.txt")));
    EXPECT_EQ(dt_success, file.start(dir.file("a.txt")));
    EXPECT_EQ(dt_busy, file.start(dir.file("b.txt")));
    fv_test::TempDir other;
    EXPECT_EQ(dt_busy, file.start(other.file("a.txt"))); // same name, another folder
    EXPECT_EQ(1u, directories.watchedFolderCount());

    appendTo(dir.file("a.txt"), "more");
    EXPECT_TRUE(file.sawEvent(kModified));
}

TEST(FileWatcher, FailedStartLeavesTheWatcherIdle)
{
    fv_test::TempDir dir;
    CDirectoriesWatcher directories;
    WatchedFile file(directories);
    EXPECT_EQ(dt_general_error, file.start(dir.file("missing/a.txt")));
    EXPECT_EQ(dt_general_error, file.start(""));
    EXPECT_FALSE(directories.hasFileWatcher());

    // Not "already watching": the retry really watches.
    fv_test::writeFile(dir.file("a.txt"), "a");
    ASSERT_EQ(dt_success, file.start(dir.file("a.txt")));
    appendTo(dir.file("a.txt"), "more");
    EXPECT_TRUE(file.sawEvent(kModified));
}

TEST(FileWatcher, LastUnwatchStopsTheWatcherAndWatchingAgainWorks)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("a.txt"), "a");
    fv_test::writeFile(dir.file("b.txt"), "b");
    CDirectoriesWatcher directories;
    {
        WatchedFile a(directories);
        ASSERT_EQ(dt_success, a.start(dir.file("a.txt")));
        {
            WatchedFile b(directories);
            ASSERT_EQ(dt_success, b.start(dir.file("b.txt")));
        }
        // b's unwatch left a's watch of the shared folder in place.
        EXPECT_EQ(1u, directories.watchedFolderCount());
        appendTo(dir.file("a.txt"), "more");
        EXPECT_TRUE(a.sawEvent(kModified));
    }
    EXPECT_EQ(0u, directories.watchedFolderCount());
    EXPECT_FALSE(directories.hasFileWatcher());

    WatchedFile again(directories);
    ASSERT_EQ(dt_success, again.start(dir.file("b.txt")));
    EXPECT_TRUE(directories.hasFileWatcher());
    appendTo(dir.file("b.txt"), "more");
    EXPECT_TRUE(again.sawEvent(kModified));
}

TEST(FileWatcher, FiltersNotificationsByNameFolderAndId)
{
    struct Case {
        const char* name;
        efsw::WatchID id;
        const char* folderSuffix; // appended to the temp dir
        const char* fileName;
        bool raised;
        const char* logged;
    };
    // A fresh directories watcher numbers its first watch 1.
    const Case cases[] = {
        {"own file", 1, "/", "a.txt", true, nullptr},
        {"another file", 1, "/", "b.txt", false, nullptr},
        {"lost notifications", 1, "/", "", true, nullptr},
        {"another folder", 1, "/x/", "a.txt", false, "Unexpected directory received in watcher callback: "},
        {"another id", 7, "/", "a.txt", false, "Unexpected watch id received in watcher callback: 7"},
    };
    for (const Case& c : cases) {
        fv_test::TempDir dir;
        fv_test::LogCapture log;
        CDirectoriesWatcher directories;
        WatchedFile file(directories);
        ASSERT_EQ(dt_success, file.start(dir.file("a.txt")));
        files_watch::FileSystemEvent event = files_watch::FileSystemEventModified;
        file.watcher.onWatchEvent(c.id, dir.path() + c.folderSuffix, c.fileName, event);
        EXPECT_EQ(c.raised ? 1u : 0u, file.events.values().size()) << c.name;
        if (c.logged) {
            EXPECT_EQ(1, log.count(c.logged)) << c.name;
        }
    }
}

TEST(FileWatcher, UnknownIdsAreLoggedAndIgnored)
{
    fv_test::LogCapture log;
    CDirectoriesWatcher directories;
    directories.unwatchDirectory(42);
    EXPECT_EQ(1, log.count("m_watcherPtr is NULL, most likely no watches have been added"));
    EXPECT_EQ(files_watch::FileSystemEventOther, CDirectoriesWatcher::FwActionToFsEvent(efsw::Actions::Moved));
    EXPECT_EQ(1, log.count("unexpected action received: 4"));
}

TEST(FileWatcher, WatchersComeAndGoWhileFilesChange)
{
    // Unwatching the last file deletes the reader thread while it delivers: no deadlock.
    fv_test::TempDir dir;
    CDirectoriesWatcher directories;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i)
            fv_test::writeFile(dir.file("f" + std::to_string(i % 4) + ".txt"), std::to_string(i));
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int rounds = 0;
    while (std::chrono::steady_clock::now() < end) {
        WatchedFile a(directories);
        WatchedFile b(directories);
        EXPECT_EQ(dt_success, a.start(dir.file("f" + std::to_string(rounds % 4) + ".txt")));
        EXPECT_EQ(dt_success, b.start(dir.file("f" + std::to_string((rounds + 1) % 4) + ".txt")));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++rounds;
    }
    stop = true;
    writer.join();
    EXPECT_FALSE(directories.hasFileWatcher());
    EXPECT_GT(rounds, 0);
}

TEST(EfswFileWatcher, ReportsRenamesWithBothNamesAndRefusesBadWatches)
{
    fv_test::TempDir dir;
    fv_test::TempDir outside;
    fv_test::writeFile(dir.file("file"), "x");
    ActionListener listener;
    efsw::FileWatcher watcher;
    watcher.watch();
    EXPECT_EQ(efsw::Errors::FileNotFound, watcher.addWatch(dir.file("missing"), &listener, false));
    EXPECT_EQ(efsw::Errors::FileNotFound, watcher.addWatch(dir.file("file"), &listener, false));
    const efsw::WatchID id = watcher.addWatch(dir.path(), &listener, false);
    ASSERT_GT(id, 0);
    EXPECT_EQ(efsw::Errors::FileRepeated, watcher.addWatch(dir.path() + "/.", &listener, false));

    ASSERT_EQ(0, std::rename(dir.file("file").c_str(), dir.file("renamed").c_str()));
    ASSERT_EQ(0, std::rename(dir.file("renamed").c_str(), outside.file("gone").c_str()));
    ASSERT_EQ(0, std::rename(outside.file("gone").c_str(), dir.file("back").c_str()));
    ASSERT_TRUE(listener.actions.waitForCount(3));
    auto actions = listener.actions.values();
    const auto moved = std::make_tuple(int(efsw::Actions::Moved), std::string("renamed"), std::string("file"));
    if (actions[0] != moved) {
        // A rename's halves are paired within a short time only: a late half makes it a deletion
        // of the old name and an addition of the new one.
        ASSERT_TRUE(listener.actions.waitForCount(4));
        actions = listener.actions.values();
        EXPECT_EQ(std::make_tuple(int(efsw::Actions::Delete), std::string("file"), std::string()), actions[0]);
        EXPECT_EQ(std::make_tuple(int(efsw::Actions::Add), std::string("renamed"), std::string()), actions[1]);
        actions.erase(actions.begin());
    }
    EXPECT_EQ(std::make_tuple(int(efsw::Actions::Delete), std::string("renamed"), std::string()), actions[1]);
    EXPECT_EQ(std::make_tuple(int(efsw::Actions::Add), std::string("back"), std::string()), actions[2]);

    const std::size_t delivered = listener.actions.values().size();
    watcher.removeWatch(id);
    fv_test::writeFile(dir.file("after"), "x");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(delivered, listener.actions.values().size());
}

TEST(FileWatcher, SubscriberMayDestroyItsOwnAndAnotherWatcher)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("a.txt"), "a");
    fv_test::writeFile(dir.file("b.txt"), "b");
    CDirectoriesWatcher directories;
    struct Subscriber {
        std::unique_ptr<CFileWatcher> own;
        std::unique_ptr<CFileWatcher> other;
        fv_test::EventRecorder<int> done;
        void onChange(files_watch::FileSystemEvent&)
        {
            if (!own)
                return;
            own.reset();
            other.reset();
            done.record(1);
        }
    } subscriber;
    subscriber.own = std::make_unique<CFileWatcher>(directories);
    subscriber.other = std::make_unique<CFileWatcher>(directories);
    subscriber.own->changeEvent += Poco::delegate(&subscriber, &Subscriber::onChange);
    ASSERT_EQ(dt_success, subscriber.own->startMonitoring(fv_transfers::utf8ToWide(dir.file("a.txt"))));
    ASSERT_EQ(dt_success, subscriber.other->startMonitoring(fv_transfers::utf8ToWide(dir.file("b.txt"))));

    fv_test::Watchdog watchdog("a subscriber destroying watchers");
    appendTo(dir.file("a.txt"), "more");
    EXPECT_TRUE(subscriber.done.waitForCount(1));
    EXPECT_EQ(0u, directories.watchedFolderCount());
    // The reader thread the callback could not delete serves the next watch.
    WatchedFile again(directories);
    ASSERT_EQ(dt_success, again.start(dir.file("b.txt")));
    appendTo(dir.file("b.txt"), "more");
    EXPECT_TRUE(again.sawEvent(kModified));
}

TEST(FileWatcher, UnwatchWhileAnotherSubscriberWaitsForTheUnwatchersLock)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("a.txt"), "a");
    fv_test::writeFile(dir.file("b.txt"), "b");
    CDirectoriesWatcher directories;
    std::mutex appLock;
    struct Subscriber {
        std::mutex* appLock;
        fv_test::EventRecorder<int> entered;
        void onChange(files_watch::FileSystemEvent&)
        {
            entered.record(1);
            std::lock_guard<std::mutex> lock(*appLock);
        }
    } subscriber{&appLock, {}};
    CFileWatcher a(directories);
    a.changeEvent += Poco::delegate(&subscriber, &Subscriber::onChange);
    ASSERT_EQ(dt_success, a.startMonitoring(fv_transfers::utf8ToWide(dir.file("a.txt"))));
    auto b = std::make_unique<CFileWatcher>(directories);
    ASSERT_EQ(dt_success, b->startMonitoring(fv_transfers::utf8ToWide(dir.file("b.txt"))));

    fv_test::Watchdog watchdog("unwatching under the subscriber's lock");
    {
        std::lock_guard<std::mutex> lock(appLock);
        appendTo(dir.file("a.txt"), "more");
        ASSERT_TRUE(subscriber.entered.waitForCount(1));
        b.reset();
    }
    EXPECT_EQ(1u, directories.watchedFolderCount());
    a.changeEvent -= Poco::delegate(&subscriber, &Subscriber::onChange);
}
