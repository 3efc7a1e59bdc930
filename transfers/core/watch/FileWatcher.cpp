#include "core/watch/FileWatcher.h"

#include "core/log/FvTransfersLogger.h"
#include "core/base/StringConversion.h"

#include <Poco/Path.h>

namespace fv_transfers {

CFileWatcher::CFileWatcher() : CFileWatcher(CDirectoriesWatcher::getInstance()) {}

CFileWatcher::CFileWatcher(CDirectoriesWatcher& directories) : m_directories(directories) {}

CFileWatcher::~CFileWatcher()
{
    efsw::WatchID id = -1;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::swap(id, m_watchId);
        m_fileName.clear();
    }
    if (id >= 0)
        m_directories.unwatchDirectory(id);
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
        const efsw::WatchID id = m_directories.watchDirectory(folder, this);
        std::lock_guard<std::mutex> lock(m_lock);
        if (id < 0) {
            m_fileName.clear();
            m_folder.clear();
            return dt_general_error;
        }
        m_watchId = id;
        return dt_success;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception when starting monitoring file for changes: " << e.what());
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_watchId < 0) {
            m_fileName.clear();
            m_folder.clear();
        }
        return dt_general_error;
    }
}

void CFileWatcher::onWatchEvent(efsw::WatchID watchId, const std::string& folder, const std::string& fileName,
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
            // Until startMonitoring stored the id, the folder's events are already ours.
            if (m_watchId >= 0 && watchId != m_watchId) {
                FV_LOG_ERROR("Unexpected watch id received in watcher callback: " << watchId);
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
