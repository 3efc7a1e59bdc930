#include "core/base/StringConversion.h"
#include "core/watch/DirectoriesWatcher.h"
#include "core/watch/FileWatcher.h"
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
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <sys/stat.h>
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

TEST(FileWatcher, ReportsWhatHappensToTheWatchedFile)
{
    struct Case {
        const char* name;
        const char* watched;                         // relative to the temp dir, made before the watch
        bool exists;                                 // whether the watched file is written first
        std::function<void(fv_test::TempDir&)> step; // what happens once it is watched
        int event;
    };
    const auto rename = [](const char* from, const char* to) {
        return [from, to](fv_test::TempDir& dir) {
            ASSERT_EQ(0, std::rename(dir.file(from).c_str(), dir.file(to).c_str()));
        };
    };
    const Case cases[] = {
        {"made", "a.txt", false, [](fv_test::TempDir& dir) { fv_test::writeFile(dir.file("a.txt"), "one"); }, kAdded},
        {"appended to", "a.txt", true, [](fv_test::TempDir& dir) { appendTo(dir.file("a.txt"), "two"); }, kModified},
        {"deleted", "a.txt", true, [](fv_test::TempDir& dir) { ASSERT_EQ(0, ::unlink(dir.file("a.txt").c_str())); },
         kDeleted},
        {"renamed away", "a.txt", true, rename("a.txt", "renamed.txt"), kDeleted},
        {"moved to another folder", "a.txt", true, rename("a.txt", "other/a.txt"), kDeleted},
        // Editors save by writing a new file and renaming it over the old one.
        {"renamed over", "a.txt", true,
         [](fv_test::TempDir& dir) {
             fv_test::writeFile(dir.file("a.txt.tmp"), "new");
             ASSERT_EQ(0, std::rename(dir.file("a.txt.tmp").c_str(), dir.file("a.txt").c_str()));
         },
         kAdded},
        {"folder moved away", "sub/a.txt", true, rename("sub", "moved"), kDeleted},
    };
    for (const Case& c : cases) {
        fv_test::TempDir dir;
        ASSERT_EQ(0, ::mkdir(dir.file("other").c_str(), 0700));
        ASSERT_EQ(0, ::mkdir(dir.file("sub").c_str(), 0700));
        if (c.exists)
            fv_test::writeFile(dir.file(c.watched), "a");
        CDirectoriesWatcher directories;
        WatchedFile file(directories);
        ASSERT_EQ(dt_success, file.start(dir.file(c.watched))) << c.name;
        c.step(dir);
        EXPECT_TRUE(file.sawEvent(c.event)) << c.name;
    }
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

TEST(FileWatcher, FiltersNotificationsByNameAndFolder)
{
    struct Case {
        const char* name;
        const char* folderSuffix; // appended to the temp dir
        const char* fileName;
        bool raised;
        const char* logged;
    };
    const Case cases[] = {
        {"own file", "/", "a.txt", true, nullptr},
        {"another file", "/", "b.txt", false, nullptr},
        {"lost notifications", "/", "", true, nullptr},
        {"another folder", "/x/", "a.txt", false, "Unexpected directory received in watcher callback: "},
    };
    for (const Case& c : cases) {
        fv_test::TempDir dir;
        fv_test::LogCapture log;
        CDirectoriesWatcher directories;
        WatchedFile file(directories);
        ASSERT_EQ(dt_success, file.start(dir.file("a.txt")));
        files_watch::FileSystemEvent event = files_watch::FileSystemEventModified;
        file.watcher.onWatchEvent(dir.path() + c.folderSuffix, c.fileName, event);
        EXPECT_EQ(c.raised ? 1u : 0u, file.events.values().size()) << c.name;
        if (c.logged) {
            EXPECT_EQ(1, log.count(c.logged)) << c.name;
        }
    }
}

TEST(FileWatcher, UnknownActionIsLoggedAndReportedAsOther)
{
    fv_test::LogCapture log;
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

namespace {

// Records the folder's events; the first call waits until the gate opens.
struct GatedCallback : CDirectoriesWatcher::IWatchCallback {
    struct Gate {
        std::mutex lock;
        std::condition_variable opened;
        bool open = false;
        std::atomic<bool> entered{false};
        std::atomic<bool> returned{false};
    };
    explicit GatedCallback(Gate& gate) : gate(gate) {}
    void onWatchEvent(const std::string&, const std::string&, files_watch::FileSystemEvent) override
    {
        if (++calls > 1)
            return;
        gate.entered = true;
        {
            std::unique_lock<std::mutex> lock(gate.lock);
            gate.opened.wait(lock, [this] { return gate.open; });
        }
        lastCall = calls.load(); // a use after free when the subscription's end did not wait
        gate.returned = true;
    }
    Gate& gate;
    std::atomic<int> calls{0};
    int lastCall = 0;
};

} // namespace

TEST(DirectoriesWatcher, EndingASubscriptionWaitsForItsRunningCallbackWithoutTimeLimit)
{
    fv_test::TempDir dir;
    fv_test::LogCapture log;
    // Noticed early, so that the test sees the unsubscriber wait beyond the notice.
    CDirectoriesWatcher directories(std::chrono::milliseconds(20));
    GatedCallback::Gate gate;
    auto callback = std::make_unique<GatedCallback>(gate);
    CDirectoriesWatcher::Subscription subscription;
    ASSERT_EQ(dt_success, directories.watchDirectory(dir.path(), *callback, subscription));
    ASSERT_TRUE(subscription);
    // Another folder keeps the reader thread, so nothing but the wait holds the owner back.
    fv_test::TempDir otherDir;
    GatedCallback other(gate);
    CDirectoriesWatcher::Subscription otherSubscription;
    ASSERT_EQ(dt_success, directories.watchDirectory(otherDir.path(), other, otherSubscription));
    fv_test::writeFile(dir.file("a.txt"), "a");
    ASSERT_TRUE(fv_test::waitUntil([&] { return gate.entered.load(); }));

    std::atomic<bool> ended{false};
    bool returnedBeforeEnd = false;
    std::thread owner([&] {
        subscription.reset();
        returnedBeforeEnd = gate.returned;
        callback.reset(); // what a subscriber does once unsubscribed
        ended = true;
    });
    // The gate opens once the owner has waited past the notice, or once it gave up waiting.
    ASSERT_TRUE(fv_test::waitUntil([&] { return ended || log.count("still running") > 0; }, 30000));
    {
        std::lock_guard<std::mutex> lock(gate.lock);
        gate.open = true;
    }
    gate.opened.notify_all();
    owner.join();
    EXPECT_TRUE(returnedBeforeEnd);
    EXPECT_FALSE(subscription);
    EXPECT_EQ(1u, directories.watchedFolderCount());
}

TEST(DirectoriesWatcher, FailedWatchGivesAnErrorAndAnEmptySubscription)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("file"), "x");
    CDirectoriesWatcher directories;
    GatedCallback::Gate gate;
    GatedCallback callback(gate);
    for (const std::string& folder : {dir.file("missing"), dir.file("file")}) {
        CDirectoriesWatcher::Subscription subscription;
        EXPECT_EQ(fv_transfers::dt_local_file_error, directories.watchDirectory(folder, callback, subscription))
            << folder;
        EXPECT_FALSE(subscription) << folder;
    }
    EXPECT_FALSE(directories.hasFileWatcher());
}

TEST(DirectoriesWatcher, MovedSubscriptionEndsOnce)
{
    fv_test::TempDir dir;
    CDirectoriesWatcher directories;
    GatedCallback::Gate gate;
    GatedCallback callback(gate);
    CDirectoriesWatcher::Subscription first;
    ASSERT_EQ(dt_success, directories.watchDirectory(dir.path(), callback, first));
    CDirectoriesWatcher::Subscription second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
    first.reset();
    EXPECT_EQ(1u, directories.watchedFolderCount());
    CDirectoriesWatcher::Subscription third;
    ASSERT_EQ(dt_success, directories.watchDirectory(dir.path(), callback, third));
    second = std::move(third); // ends the one it held
    EXPECT_EQ(1u, directories.watchedFolderCount());
    second.reset();
    EXPECT_EQ(0u, directories.watchedFolderCount());
    EXPECT_FALSE(directories.hasFileWatcher());
}
