#pragma once

#include <memory>
#include <string>

// A small folder watcher over inotify, in the shape the library's watchers are written against.
namespace efsw {

// Process-unique, so a late notification from a watcher that is going away never matches a
// watch of its successor. Negative values are errors.
typedef long WatchID;

namespace Actions {
enum Action { Add = 1, Delete = 2, Modified = 3, Moved = 4 };
}
typedef Actions::Action Action;

namespace Errors {
enum Error {
    FileNotFound = -1, // missing, or not a folder
    FileRepeated = -2, // the folder is already watched by this watcher
    FileNotReadable = -3,
    WatcherFailed = -4, // the system refused (no inotify instance or watch left)
};
}

class FileWatchListener {
public:
    virtual ~FileWatchListener() = default;
    // On the watcher's thread. A rename inside the folder is Moved with both names; a file
    // moved out of the folder is Delete, moved in is Add. With an empty file name the action
    // concerns every file of the folder: Delete when the folder itself was moved away or
    // deleted (a deleted folder's watch is then gone), Modified after notifications were lost.
    // `dir` is the folder as given to addWatch.
    virtual void handleFileAction(WatchID watchid, const std::string& dir, const std::string& filename, Action action,
                                  std::string oldFilename = "") = 0;
};

class FileWatcher {
public:
    FileWatcher();
    // Stops and joins the thread; no listener is called after the return. Must not be called
    // from a listener.
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // Not recursive (`recursive` must be false). The listener is not owned and must outlive
    // the watcher.
    WatchID addWatch(const std::string& directory, FileWatchListener* listener, bool recursive);
    // A notification already on its way may still arrive for the id.
    void removeWatch(WatchID watchid);
    // Starts the thread that reads and delivers the notifications.
    void watch();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace efsw
