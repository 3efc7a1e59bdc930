#include "db/DbHolder.h"

#include "core/config/AppFilesDirectory.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/Data/SessionFactory.h>
#include <Poco/File.h>

#include <exception>
#include <mutex>

namespace fv_transfers {

namespace {

const char* const kOldDbFileNames[] = {"fv_transfers.db",    "fv_transfers_v2.db", "fv_transfers_v3.db",
                                       "fv_transfers_v4.db", "fv_transfers_v5.db", "fv_transfers_v6.db",
                                       "fv_transfers_v7.db"};

struct InstanceSlot {
    // The connector registry must outlive the holder kept here until exit, so it is made first.
    InstanceSlot() { Poco::Data::SessionFactory::instance(); }

    std::mutex mutex;
    std::shared_ptr<CDbHolder> holder;
};

InstanceSlot& slot()
{
    static InstanceSlot instance;
    return instance;
}

} // namespace

std::string withTrailingSlash(const std::string& folder)
{
    if (!folder.empty() && folder.back() == '/')
        return folder;
    return folder + "/";
}

std::shared_ptr<CDbHolder> CDbHolder::getInstance()
{
    InstanceSlot& s = slot();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.holder)
        s.holder = openDefault();
    return s.holder;
}

bool CDbHolder::createInstance()
{
    InstanceSlot& s = slot();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.holder && (s.holder.use_count() > 1 || s.holder->isInUse())) {
        FV_LOG_WARNING("The transfer database is in use; keeping the open connection");
        return false;
    }
    // The old connection closes before the new one opens the same file.
    s.holder.reset();
    s.holder = openDefault();
    return s.holder->isConnected();
}

void CDbHolder::releaseInstance()
{
    std::shared_ptr<CDbHolder> released;
    InstanceSlot& s = slot();
    std::lock_guard<std::mutex> lock(s.mutex);
    released.swap(s.holder);
}

std::shared_ptr<CDbHolder> CDbHolder::openDefault()
{
    const std::string path = makeDbFilePath(CFvTransfersGlobalConfig::getDbFileName());
    removeOldDbFiles();
    return std::make_shared<CDbHolder>(path);
}

std::string CDbHolder::makeDbFilePath(const std::string& fileName)
{
    const std::string folder = getAppFilesDirectory();
    return folder.empty() ? fileName : withTrailingSlash(folder) + fileName;
}

void CDbHolder::removeOldDbFiles()
{
    for (const char* name : kOldDbFileNames) {
        try {
            Poco::File file(makeDbFilePath(name));
            if (file.exists())
                file.remove();
        } catch (const std::exception& e) {
            FV_LOG_WARNING("Exception when removing old DB: " << e.what());
        }
    }
}

CDbHolder::CDbHolder(const std::string& dbFilePath, std::size_t busyTimeoutSeconds)
{
    std::string error;
    m_connection = CDbConnection::open(dbFilePath, busyTimeoutSeconds, error);
    if (!m_connection->isOpen())
        FV_LOG_ERROR("Unable to connect to database. Exception is: " << error);
    // Built even without a connection: users get tables that report failure, never null.
    m_groups = std::make_shared<CGroupsDbInfo>(m_connection);
    m_files = std::make_shared<CFilesDbInfo>(m_connection);
    m_channels = std::make_shared<CChannelsDbInfo>(m_connection);
    m_downloadChannels = std::make_shared<CDownloadChannelsDbInfo>(m_connection);
    m_downloadGroups = std::make_shared<CDbDownloadGroupInfoAggregator>(m_connection);
    m_downloadFiles = std::make_shared<CDownloadFilesDbInfo>(m_connection);
}

CDbHolder::~CDbHolder()
{
    // Tables go in reverse order; the connection closes when its last user lets go.
    m_downloadFiles.reset();
    m_downloadGroups.reset();
    m_downloadChannels.reset();
    m_channels.reset();
    m_files.reset();
    m_groups.reset();
}

bool CDbHolder::isInUse() const
{
    return m_groups.use_count() > 1 || m_files.use_count() > 1 || m_channels.use_count() > 1 ||
           m_downloadChannels.use_count() > 1 || m_downloadGroups.use_count() > 1 || m_downloadFiles.use_count() > 1;
}

} // namespace fv_transfers
