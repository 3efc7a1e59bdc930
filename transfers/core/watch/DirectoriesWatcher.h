#pragma once

#include "core/watch/FileSystemEvent.h"
#include "core/watch/efsw/FileWatcher.h"

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
// files in it are watched; every watchDirectory gets its own id and is undone by its own
// unwatchDirectory.
class CDirectoriesWatcher : public efsw::FileWatchListener {
public:
    class IWatchCallback {
    public:
        virtual ~IWatchCallback() = default;
        // On the watcher's thread, without the directories watcher's lock: it may watch or unwatch
        // any folder, its own included. `folder` is the text given to watchDirectory. An empty
        // `fileName` concerns every file of the folder; after a Deleted one the folder went
        // away and is watched no more: watching it again makes a new watch.
        virtual void onWatchEvent(efsw::WatchID watchId, const std::string& folder, const std::string& fileName,
                                  files_watch::FileSystemEvent event) = 0;
    };

    static CDirectoriesWatcher& getInstance();

    CDirectoriesWatcher() = default;
    ~CDirectoriesWatcher() override;
    CDirectoriesWatcher(const CDirectoriesWatcher&) = delete;
    CDirectoriesWatcher& operator=(const CDirectoriesWatcher&) = delete;

    // A positive id, or a negative efsw error: every negative id is a failure.
    efsw::WatchID watchDirectory(const std::string& folder, IWatchCallback* callback);
    // After the return the callback of that id is not called again; a delivery to it that is
    // under way on another thread is waited for (bounded). Called from a callback, it does not
    // wait for that callback.
    void unwatchDirectory(efsw::WatchID watchId);

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

    void notify(const std::vector<Target>& targets, const std::string& fileName, files_watch::FileSystemEvent event);

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
