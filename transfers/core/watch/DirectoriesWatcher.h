#pragma once

#include "core/base/DtError.h"
#include "core/watch/FileSystemEvent.h"
#include "core/watch/efsw/FileWatcher.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fv_transfers {

// Routes folder notifications to the file watchers. Each folder is watched once, however many
// files in it are watched; every watchDirectory gives a subscription of its own, and the
// subscription's end undoes it.
class CDirectoriesWatcher : public efsw::FileWatchListener {
public:
    class IWatchCallback {
    public:
        virtual ~IWatchCallback() = default;
        // On the watcher's thread, without the directories watcher's lock: it may watch or unwatch
        // any folder, its own included. `folder` is the text given to watchDirectory. An empty
        // `fileName` concerns every file of the folder; after a Deleted one the folder went
        // away and is watched no more: watching it again makes a new watch.
        // It must not take a lock that is held where its subscription is destroyed.
        virtual void onWatchEvent(const std::string& folder, const std::string& fileName,
                                  files_watch::FileSystemEvent event) = 0;
    };

    // One watchDirectory, undone when it is destroyed or reset: after that the callback is not
    // called again, and a call under way on the watcher's thread has returned (destroyed by that
    // very callback, it does not wait for itself). Must not outlive its directories watcher.
    class Subscription {
    public:
        Subscription() = default; // empty
        ~Subscription();
        Subscription(Subscription&& other) noexcept;
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

        explicit operator bool() const { return m_owner != nullptr; }
        void reset();

    private:
        friend class CDirectoriesWatcher;
        Subscription(CDirectoriesWatcher& owner, efsw::WatchID id) : m_owner(&owner), m_id(id) {}

        CDirectoriesWatcher* m_owner = nullptr;
        efsw::WatchID m_id = 0;
    };

    static CDirectoriesWatcher& getInstance();

    // A callback that has not returned after `longCallbackNotice` is logged once, and still waited for.
    explicit CDirectoriesWatcher(std::chrono::milliseconds longCallbackNotice = std::chrono::seconds(10));
    ~CDirectoriesWatcher() override;
    CDirectoriesWatcher(const CDirectoriesWatcher&) = delete;
    CDirectoriesWatcher& operator=(const CDirectoriesWatcher&) = delete;

    // dt_success with a live subscription; dt_local_file_error when the folder is missing or not
    // one, dt_general_error when the system refuses the watch: the subscription is then empty.
    dt_error watchDirectory(const std::string& folder, IWatchCallback& callback, Subscription& subscription);

    void handleFileAction(efsw::WatchID watchid, const std::string& dir, const std::string& filename,
                          efsw::Action action, std::string oldFilename = "") override;

    static files_watch::FileSystemEvent FwActionToFsEvent(efsw::Action action);

    // Folders with an inotify watch, and whether the reader thread exists.
    std::size_t watchedFolderCount() const;
    bool hasFileWatcher() const;

private:
    struct Registration {
        std::string folder;
        IWatchCallback* callback;
    };
    struct Folder {
        efsw::WatchID efswId;
        std::map<efsw::WatchID, Registration> registrations;
    };

    struct Target {
        efsw::WatchID id;
        Registration registration;
    };

    void unwatch(efsw::WatchID id);
    void waitUntilNotCalling(std::unique_lock<std::mutex>& lock, efsw::WatchID id);
    void notify(const std::vector<Target>& targets, const std::string& fileName, files_watch::FileSystemEvent event);

    const std::chrono::milliseconds m_longCallbackNotice;
    mutable std::mutex m_lock;
    std::condition_variable m_callDone;
    efsw::WatchID m_callingId = 0;      // the registration whose callback runs now
    std::thread::id m_deliveringThread; // the watcher's thread while it delivers
    std::unique_ptr<efsw::FileWatcher> m_watcher;
    std::map<std::string, Folder> m_folders; // by canonical path
    std::map<efsw::WatchID, std::string>
        m_folderOfId; // registration id to canonical path, empty once the folder went away
    efsw::WatchID m_lastId = 0;
};

} // namespace fv_transfers
