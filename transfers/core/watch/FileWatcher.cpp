#include "core/watch/FileWatcher.h"

#include "core/base/StringConversion.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/Path.h>

namespace fv_transfers {

CFileWatcher::CFileWatcher() : CFileWatcher(CDirectoriesWatcher::getInstance()) {}

CFileWatcher::CFileWatcher(CDirectoriesWatcher& directories) : m_directories(directories) {}

CFileWatcher::~CFileWatcher()
{
    // Ended outside the lock: it waits for a delivery under way, which takes the lock.
    CDirectoriesWatcher::Subscription subscription;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        subscription = std::move(m_subscription);
        m_fileName.clear();
    }
}

dt_error CFileWatcher::startMonitoring(const std::wstring& filePath)
{
    try {
        const std::string utf8 = wideToUtf8(filePath);
        Poco::Path path(utf8);
        path.makeAbsolute();
        const std::string name = path.getFileName();
        if (utf8.empty() || name.empty()) {
            FV_LOG_ERROR("Exception when starting monitoring file for changes: not a file path: " << utf8);
            return dt_general_error;
        }
        const std::string folder = Poco::Path(path).makeParent().toString();
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_fileName.empty()) {
                if (m_fileName == name && m_folder == folder) {
                    FV_LOG_WARNING("String watching of the file that is already being monitored: " << name);
                    return dt_success;
                }
                FV_LOG_WARNING("CFileWatcher: trying to start monitoring file while file watcher is already "
                               "monitoring another one");
                return dt_busy;
            }
            m_fileName = name;
            m_folder = folder;
        }
        CDirectoriesWatcher::Subscription subscription;
        const dt_error result = m_directories.watchDirectory(folder, *this, subscription);
        std::lock_guard<std::mutex> lock(m_lock);
        if (result != dt_success) {
            m_fileName.clear();
            m_folder.clear();
            return dt_general_error;
        }
        m_subscription = std::move(subscription);
        return dt_success;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception when starting monitoring file for changes: " << e.what());
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_subscription) {
            m_fileName.clear();
            m_folder.clear();
        }
        return dt_general_error;
    }
}

void CFileWatcher::onWatchEvent(const std::string& folder, const std::string& fileName,
                                files_watch::FileSystemEvent event)
{
    try {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_fileName.empty())
                return;
            // No name: the whole folder is concerned (moved away, or notifications were lost).
            if (!fileName.empty() && fileName != m_fileName)
                return;
            if (folder != m_folder) {
                FV_LOG_ERROR("Unexpected directory received in watcher callback: " << folder);
                return;
            }
        }
        changeEvent.notify(this, event);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception caught in "
                     << "fv_transfers::CFileWatcher::onWatchEvent"
                     << ": " << e.what());
    }
}

} // namespace fv_transfers
