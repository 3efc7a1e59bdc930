#pragma once

#include "db/ChannelsDbInfo.h"
#include "db/DbConnection.h"
#include "db/DbDownloadGroupInfoAggregator.h"
#include "db/DownloadChannelsDbInfo.h"
#include "db/DownloadFilesDbInfo.h"
#include "db/FilesDbInfo.h"
#include "db/GroupsDbInfo.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace fv_transfers {

// The transfer database "fv_transfers_v8.db" in the application files folder and one object per
// table. The table objects co-own the connection, so a holder may be replaced or released while
// transfer objects still hold tables: they keep working on the connection they have.
class CDbHolder {
public:
    // The process's holder, opened on first use: only a process that transfers opens the file.
    // Never null; when the file cannot be opened, the tables exist and every operation fails.
    static std::shared_ptr<CDbHolder> getInstance();
    // Opens a fresh holder now and makes it the process's one. Refused (false, the current one
    // is kept) while tables of the current one are held elsewhere, since two connections would
    // then write the same file. True when the new holder is connected.
    static bool createInstance(std::size_t busyTimeoutSeconds = CDbConnection::kBusyTimeoutSeconds);
    // Drops the process's holder; the next getInstance opens the file again. The connection
    // closes when the last table user lets go.
    static void releaseInstance();

    // `fileName` in the application files folder, or alone when no folder is set.
    static std::string makeDbFilePath(const std::string& fileName);
    // Deletes the files of earlier schema versions; one that cannot be deleted is logged and left.
    static void removeOldDbFiles();

    // How long the start-up (open, integrity check, tables, and the first load) may wait for a
    // file that another program holds: long enough for its transaction, short enough that the
    // program does not look dead.
    static constexpr std::chrono::milliseconds kStartupBound{10000};

    // Opens (creating when missing, owner-only) the database at `dbFilePath` and builds the tables.
    // A file that is no database or has corrupt pages is moved aside (kept, owner-only, with a
    // time-stamped name beside it) and a fresh one started. A file still held elsewhere when the
    // start-up bound ends leaves the holder unconnected: nothing is moved or deleted. A file that
    // may not be written is opened read-only: its rows can be restored, nothing new is saved.
    explicit CDbHolder(const std::string& dbFilePath,
                       std::size_t busyTimeoutSeconds = CDbConnection::kBusyTimeoutSeconds,
                       std::chrono::milliseconds startupBound = kStartupBound);
    ~CDbHolder();
    CDbHolder(const CDbHolder&) = delete;
    CDbHolder& operator=(const CDbHolder&) = delete;

    bool isConnected() const { return m_connection->isOpen(); }
    bool isReadOnly() const { return m_connection->isReadOnly(); }
    // Until when a manager's load waits for the file: the first load shares the holder's own
    // start-up bound, a manager built later gets a bound of its own.
    CDbConnection::Clock::time_point startupDeadline() const;
    // Whether any table is held outside the holder.
    bool isInUse() const;

    std::shared_ptr<CGroupsDbInfo> getGroupsDbInfo() const { return m_groups; }
    std::shared_ptr<CFilesDbInfo> getFilesDbInfo() const { return m_files; }
    std::shared_ptr<CChannelsDbInfo> getChannelsDbInfo() const { return m_channels; }
    std::shared_ptr<CDownloadChannelsDbInfo> getDownloadChannelsDbInfo() const { return m_downloadChannels; }
    std::shared_ptr<CDbDownloadGroupInfoAggregator> getDownloadGroupInfoAggregator() const { return m_downloadGroups; }
    std::shared_ptr<CDownloadFilesDbInfo> getDownloadFilesDbInfo() const { return m_downloadFiles; }
    std::shared_ptr<CDbConnection> getConnection() const { return m_connection; }

private:
    static std::shared_ptr<CDbHolder> openDefault(std::size_t busyTimeoutSeconds);
    static std::shared_ptr<CDbConnection> open(const std::string& dbFilePath, std::size_t busyTimeoutSeconds);
    // Runs `step` under the start-up deadline; a step that gave up there disconnects the holder.
    void runStartupStep(const std::function<void()>& step);
    void createTables();

    const std::chrono::milliseconds m_startupBound;
    const CDbConnection::Clock::time_point m_startupDeadline;
    std::shared_ptr<CDbConnection> m_connection;
    std::shared_ptr<CGroupsDbInfo> m_groups;
    std::shared_ptr<CFilesDbInfo> m_files;
    std::shared_ptr<CChannelsDbInfo> m_channels;
    std::shared_ptr<CDownloadChannelsDbInfo> m_downloadChannels;
    std::shared_ptr<CDbDownloadGroupInfoAggregator> m_downloadGroups;
    std::shared_ptr<CDownloadFilesDbInfo> m_downloadFiles;
};

// The folder with one "/" after it (none added when it already ends with one).
std::string withTrailingSlash(const std::string& folder);

} // namespace fv_transfers
