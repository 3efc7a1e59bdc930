#include "core/watch/DirectoriesWatcher.h"

#include "core/log/FvTransfersLogger.h"

#include <chrono>
#include <cstdlib>
#include <utility>

namespace fv_transfers {

namespace {

dt_error watchError(efsw::WatchID error)
{
    return error == efsw::Errors::FileNotFound || error == efsw::Errors::FileNotReadable ? dt_local_file_error
                                                                                         : dt_general_error;
}

// Two spellings of one folder share its watch.
bool canonicalFolder(const std::string& folder, std::string& canonical)
{
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (!resolved)
        return false;
    canonical = resolved;
    std::free(resolved);
    return true;
}

} // namespace

CDirectoriesWatcher& CDirectoriesWatcher::getInstance()
{
    static CDirectoriesWatcher instance;
    return instance;
}

CDirectoriesWatcher::CDirectoriesWatcher(std::chrono::milliseconds longCallbackNotice)
    : m_longCallbackNotice(longCallbackNotice)
{
}

CDirectoriesWatcher::~CDirectoriesWatcher()
{
    std::unique_ptr<efsw::FileWatcher> retired;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        retired = std::move(m_watcher);
        m_folders.clear();
        m_folderOfId.clear();
    }
}

CDirectoriesWatcher::Subscription::~Subscription()
{
    reset();
}

CDirectoriesWatcher::Subscription::Subscription(Subscription&& other) noexcept
    : m_owner(std::exchange(other.m_owner, nullptr)), m_id(std::exchange(other.m_id, 0))
{
}

CDirectoriesWatcher::Subscription& CDirectoriesWatcher::Subscription::operator=(Subscription&& other) noexcept
{
    if (this != &other) {
        reset();
        m_owner = std::exchange(other.m_owner, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void CDirectoriesWatcher::Subscription::reset()
{
    if (CDirectoriesWatcher* owner = std::exchange(m_owner, nullptr))
        owner->unwatch(std::exchange(m_id, 0));
}

dt_error CDirectoriesWatcher::watchDirectory(const std::string& folder, IWatchCallback& callback,
                                             Subscription& subscription)
{
    subscription.reset();
    std::unique_ptr<efsw::FileWatcher> retired; // joined after the lock is released
    try {
        FV_LOG_INFO("Start watching directory: " << folder);
        std::string key;
        if (!canonicalFolder(folder, key)) {
            FV_LOG_ERROR("Cannot watch missing directory: " << folder);
            return dt_local_file_error;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_watcher) {
            FV_LOG_INFO("Creating efsw file watcher...");
            m_watcher = std::make_unique<efsw::FileWatcher>();
            m_watcher->watch();
        }
        auto it = m_folders.find(key);
        if (it == m_folders.end()) {
            const efsw::WatchID efswId = m_watcher->addWatch(key, this, false);
            if (efswId < 0) {
                FV_LOG_ERROR("Cannot watch directory " << folder << ", error " << efswId);
                if (m_folders.empty())
                    retired = std::move(m_watcher);
                return watchError(efswId);
            }
            it = m_folders.emplace(key, Folder{efswId, {}}).first;
        }
        const efsw::WatchID id = ++m_lastId;
        it->second.registrations.emplace(id, Registration{folder, &callback});
        m_folderOfId.emplace(id, key);
        FV_LOG_INFO("Directory watch id: " << id);
        subscription = Subscription(*this, id);
        return dt_success;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception caught when adding directory to watch list: " << e.what());
        return dt_general_error;
    }
}

void CDirectoriesWatcher::unwatch(efsw::WatchID watchId)
{
    // Deleting the watcher joins its thread: so it is deleted after the lock is released, and
    // never on that thread.
    std::unique_ptr<efsw::FileWatcher> retired;
    try {
        FV_LOG_INFO("Stop watching directory with id: " << watchId);
        std::unique_lock<std::mutex> lock(m_lock);
        const auto idIt = m_folderOfId.find(watchId);
        if (idIt != m_folderOfId.end()) {
            const auto folderIt = m_folders.find(idIt->second);
            m_folderOfId.erase(idIt);
            if (folderIt != m_folders.end()) {
                folderIt->second.registrations.erase(watchId);
                if (folderIt->second.registrations.empty()) {
                    m_watcher->removeWatch(folderIt->second.efswId);
                    m_folders.erase(folderIt);
                }
            }
        }
        // The watcher's thread may be unsubscribing from inside this very callback.
        const bool onWatcherThread = m_deliveringThread == std::this_thread::get_id();
        if (onWatcherThread)
            return;
        waitUntilNotCalling(lock, watchId);
        if (m_folders.empty())
            retired = std::move(m_watcher);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CDirectoriesWatcher::unwatch: Exception: " << e.what());
    }
}

void CDirectoriesWatcher::waitUntilNotCalling(std::unique_lock<std::mutex>& lock, efsw::WatchID id)
{
    // A callback still running that long probably waits for a lock of the unsubscribing thread:
    // worth a line in the log, though the wait goes on, as ending it would free what the callback uses.
    const auto done = [&] { return m_callingId != id; };
    if (m_callDone.wait_for(lock, m_longCallbackNotice, done))
        return;
    FV_LOG_WARNING("fv_transfers::CDirectoriesWatcher: callback of id " << id
                                                                        << " still running, waiting for it to return");
    m_callDone.wait(lock, done);
}

void CDirectoriesWatcher::handleFileAction(efsw::WatchID watchid, const std::string&, const std::string& filename,
                                           efsw::Action action, std::string oldFilename)
{
    try {
        std::vector<Target> targets;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            auto it = m_folders.begin();
            while (it != m_folders.end() && it->second.efswId != watchid)
                ++it;
            if (it == m_folders.end())
                return;
            for (const auto& entry : it->second.registrations)
                targets.push_back(Target{entry.first, entry.second});
            m_deliveringThread = std::this_thread::get_id();
            if (action == efsw::Actions::Delete && filename.empty()) {
                // The folder went away: a folder made later at its path needs a watch of its own.
                m_watcher->removeWatch(it->second.efswId);
                for (const Target& target : targets)
                    m_folderOfId[target.id].clear();
                m_folders.erase(it);
            }
        }
        if (action == efsw::Actions::Moved) {
            // The old name is gone as surely as if it had been deleted.
            notify(targets, oldFilename, files_watch::FileSystemEventDeleted);
            notify(targets, filename, files_watch::FileSystemEventAdded);
        } else {
            notify(targets, filename, FwActionToFsEvent(action));
        }
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception caught in "
                     << "fv_transfers::CDirectoriesWatcher::handleFileAction"
                     << ": " << e.what());
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_deliveringThread = std::thread::id();
}

// Called without the lock, so a callback may watch and unwatch; a registration undone by an
// earlier callback of this delivery is skipped.
void CDirectoriesWatcher::notify(const std::vector<Target>& targets, const std::string& fileName,
                                 files_watch::FileSystemEvent event)
{
    for (const Target& target : targets) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_folderOfId.count(target.id))
                continue;
            m_callingId = target.id;
        }
        try {
            target.registration.callback->onWatchEvent(target.registration.folder, fileName, event);
        } catch (...) {
            FV_LOG_ERROR("fv_transfers::CDirectoriesWatcher: callback of id " << target.id << " failed");
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_callingId = 0;
        }
        m_callDone.notify_all();
    }
}

files_watch::FileSystemEvent CDirectoriesWatcher::FwActionToFsEvent(efsw::Action action)
{
    switch (action) {
    case efsw::Actions::Add: return files_watch::FileSystemEventAdded;
    case efsw::Actions::Delete: return files_watch::FileSystemEventDeleted;
    case efsw::Actions::Modified: return files_watch::FileSystemEventModified;
    default:
        FV_LOG_ERROR("fv_transfers::CDirectoriesWatcher::FwActionToFsEvent"
                     << ": unexpected action received: " << static_cast<int>(action));
        return files_watch::FileSystemEventOther;
    }
}

std::size_t CDirectoriesWatcher::watchedFolderCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_folders.size();
}

bool CDirectoriesWatcher::hasFileWatcher() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_watcher != nullptr;
}

} // namespace fv_transfers
