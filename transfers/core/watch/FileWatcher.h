#pragma once

#include "core/base/DtError.h"
#include "core/watch/DirectoriesWatcher.h"

#include <Poco/BasicEvent.h>

#include <mutex>
#include <string>

namespace fv_transfers {

// Watches one file through its folder's watch and raises the change event, synchronously on
// the watcher's thread, for that file only. A rename of the file away is reported as deleted.
class CFileWatcher : public CDirectoriesWatcher::IWatchCallback {
public:
    CFileWatcher(); // on the process's directories watcher
    explicit CFileWatcher(CDirectoriesWatcher& directories);
    // Unwatches; no event is raised after the return. The change event's subscribers must not
    // take a lock held where the watcher is destroyed.
    ~CFileWatcher() override;
    CFileWatcher(const CFileWatcher&) = delete;
    CFileWatcher& operator=(const CFileWatcher&) = delete;

    // dt_success, dt_general_error when the watch cannot be made, dt_busy when another file is
    // already watched. A failed start leaves the watcher idle, so it may be tried again.
    dt_error startMonitoring(const std::wstring& filePath);

    void onWatchEvent(const std::string& folder, const std::string& fileName,
                      files_watch::FileSystemEvent event) override;

    Poco::BasicEvent<files_watch::FileSystemEvent> changeEvent;

private:
    CDirectoriesWatcher& m_directories;
    std::mutex m_lock;
    CDirectoriesWatcher::Subscription m_subscription;
    std::string m_fileName; // UTF-8, empty while idle
    std::string m_folder;
};

} // namespace fv_transfers
