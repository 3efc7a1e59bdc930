#include "download/DownloadManagerProxy.h"

#include "core/base/StringConversion.h"
#include "core/config/SystemInfo.h"
#include "core/log/FvTransfersLogger.h"
#include "core/log/LoggedGuard.h"
#include "db/DbDataLoader.h"

#include <algorithm>
#include <utility>

namespace fv_transfers {

namespace {

constexpr const char* kProxyName = "fv_transfers::CDownloadManagerProxy::";

// Runs one public operation; an exception is logged under the operation's name and the neutral
// value answered.
template <typename... Args> auto guarded(const char* operation, Args&&... args)
{
    return loggedGuard(kProxyName, operation, ": Exception: ", std::forward<Args>(args)...);
}

} // namespace

CDownloadEngine::Limits CDownloadManagerProxy::limitsOf(const CTransferManagerBase::Configuration& configuration)
{
    CDownloadEngine::Limits limits;
    limits.maxConcurrentTransfers = std::max<std::uint32_t>(1, configuration.maxConcurrentTransfers);
    limits.maxTransferRetries = configuration.maxTransferRetries;
    limits.throttleBytesPerSecond = configuration.throttleBytesPerSecond;
    return limits;
}

CDownloadManagerProxy::CDownloadManagerProxy(Environment environment)
    : CTransferManagerProxyBase("fv-dl", std::move(environment)),
      m_groupManager(std::make_unique<CDownloadGroupManager>()),
      m_engine(std::make_unique<CDownloadEngine>(*m_groupManager, limitsOf(m_configuration)))
{
    createTasksExecutor(m_configuration.maxConcurrentTransfers, *m_groupManager, m_engine.get());
    guarded("CDownloadManagerProxy", [&] {
        FV_LOG_INFO("");
        FV_LOG_INFO("----- Initializing Download Manager: " << CSystemInfo::getInstance().getModuleVersion()
                                                            << " -----");
        FV_LOG_INFO("***** OS Info: " << CSystemInfo::getInstance().getOsProductName() << " *****");
        FV_LOG_INFO("");
        FV_LOG_INFO("Default configuration:");
        logConfiguration();

        CDbDataLoader& loader = CDbDataLoader::getInstance();
        m_groupManager->setSnapshotRead(loader.loadDownloadData());
        try {
            m_groupManager->restoreGroups(m_configuration.minMultipartSize, m_configuration.verify);
        } catch (...) {
            loader.releaseDownloadData();
            throw;
        }
        loader.releaseDownloadData();

        createSynchronizer(*m_groupManager, true);
    });
    attachActiveTransfers(*m_engine);
    setPreventSleep(m_configuration.preventSleep);
    enableSleepHandling();
}

CDownloadManagerProxy::~CDownloadManagerProxy()
{
    disableSleepHandling();
    guarded("~CDownloadManagerProxy", [&] {
        m_engine->uninit();
        onEngineStopped();
    });
    releaseSynchronizer();
    detachActiveTransfers(*m_engine);
    setPreventSleep(false);
    // Queued tasks hold files; the running ones are waited for before their groups go.
    releaseTasksExecutor();
    m_groupManager.reset();
    m_engine.reset();
}

void CDownloadManagerProxy::startupLocked()
{
    guarded("startup", [&] {
        if (!m_engine->isThreadRunning()) {
            runBucketCheck();
            m_engine->init();
            onEngineStarted();
        }
        m_engine->wakeUp();
        if (!m_callback)
            return;
        std::vector<CDownloadManager::GroupState> states;
        fetchGroupsStatesLocked(states);
        for (const CDownloadManager::GroupState& state : states)
            m_callback->onGroupStateChanged(state);
    });
}

void CDownloadManagerProxy::shutdownLocked()
{
    guarded("shutdown", [&] {
        FV_LOG_INFO("Shutting down download engine!");
        m_engine->uninit();
        onEngineStopped();
        FV_LOG_INFO("Download engine finished shutting down!");
    });
}

bool CDownloadManagerProxy::hasActiveTransfers() const
{
    return guarded("hasActiveTransfers", false, [&] { return m_engine->hasActiveTransfers(); });
}

bool CDownloadManagerProxy::isEngineRunning() const
{
    return m_engine->isThreadRunning();
}

CTransferManagerBase::Configuration CDownloadManagerProxy::getConfiguration()
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return m_configuration;
}

dt_error CDownloadManagerProxy::setConfiguration(const CTransferManagerBase::Configuration& configuration)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("setConfiguration", dt_error(2), [&] {
        if (configuration.connectionTimeoutMs != m_configuration.connectionTimeoutMs ||
            configuration.sendTimeoutMs != m_configuration.sendTimeoutMs ||
            configuration.receiveTimeoutMs != m_configuration.receiveTimeoutMs)
            m_engine->setTimeouts(ChannelTimeouts{configuration.connectionTimeoutMs, configuration.sendTimeoutMs,
                                                  configuration.receiveTimeoutMs});
        m_configuration = configuration;
        if (m_configuration.minMultipartSize == 0)
            m_configuration.minMultipartSize = CTransferManagerBase::Configuration().minMultipartSize;
        if (m_configuration.maxConcurrentTransfers != 0)
            m_engine->setMaxConcurrentTransfers(m_configuration.maxConcurrentTransfers);
        setTasksExecutorCapacity(m_configuration.maxConcurrentTransfers);
        m_engine->setMaxTransferRetries(m_configuration.maxTransferRetries);
        m_engine->setThrottleBytesPerSecond(m_configuration.throttleBytesPerSecond);
        setPreventSleep(m_configuration.preventSleep);
        FV_LOG_INFO("Download manager configuration changed. New configuration:");
        logConfiguration();
        return dt_error(0);
    });
}

std::int32_t CDownloadManagerProxy::createGroup(const std::string& bucketId, const std::string& token,
                                                const std::string& bucketType, std::uint64_t tokenExpires,
                                                const std::wstring& downloadPath,
                                                const std::shared_ptr<GroupInfoMap>& groupInfo)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("createGroup", std::int32_t(-1), [&] {
        CDownloadGroup::TransferGroupInitParams params;
        params.bucketId = bucketId;
        params.bucketToken = token;
        params.bucketType = bucketType;
        params.tokenExpiration = tokenExpires;
        params.isNew = true;
        params.downloadPath = downloadPath;
        params.minMultipartSize = m_configuration.minMultipartSize;
        params.engineCallback = m_engine.get();
        params.groupInfo = groupInfo;
        params.callback = m_callback;
        const std::int32_t id = m_groupManager->addGroup(params);
        // The token grants access to the user's files and the log goes to the help desk.
        FV_LOG_INFO("Created group with id: " << id << ". Bucket id: " << bucketId << ". Bucket token: ***"
                                              << "DownloadPath: " << wideToUtf8(downloadPath));
        return id;
    });
}

std::int32_t CDownloadManagerProxy::findGroupByBucketId(const std::string& bucketId)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("findGroupByBucketId", std::int32_t(-1), [&] {
        const std::int32_t id = m_groupManager->findGroupByBucketId(bucketId);
        if (id == -1)
            FV_LOG_WARNING(kProxyName << "findGroupByBucketId: Unable to find group associated with bucked id "
                                      << bucketId);
        return id;
    });
}

void CDownloadManagerProxy::subscribeToEvents(CDownloadManager::ICallback* callback)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("subscribeToEvents", [&] {
        m_callback = callback;
        m_groupManager->setCallbackForAllGroups(callback);
    });
}

std::shared_ptr<CDownloadGroup> CDownloadManagerProxy::findGroupOrWarn(std::int32_t groupId, const char* operation)
{
    std::shared_ptr<CDownloadGroup> group = m_groupManager->findDownloadGroup(groupId);
    if (!group)
        FV_LOG_WARNING(kProxyName << operation << ": Unable to find group with id " << groupId);
    return group;
}

void CDownloadManagerProxy::queueFiles(std::int32_t groupId, const std::vector<FileDownloadDetails>& files)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("queueFiles", [&] {
        std::shared_ptr<CDownloadGroup> group = findGroupOrWarn(groupId, "queueFiles");
        if (!group)
            return;
        FV_LOG_INFO("Adding the following files to group with id " << groupId << ": ");
        logFiles(files);
        m_engine->initFiles(group, files);
        m_engine->wakeUp();
    });
}

void CDownloadManagerProxy::dequeueFiles(std::int32_t groupId, const std::vector<FileDownloadDetails>& files)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("dequeueFiles", [&] {
        std::shared_ptr<CDownloadGroup> group = findGroupOrWarn(groupId, "dequeueFiles");
        if (!group)
            return;
        std::vector<std::string> uids;
        for (const FileDownloadDetails& file : files)
            uids.push_back(file.id);
        group->removeFiles(uids);
        FV_LOG_INFO("Removing the following files from group with id " << groupId << ": ");
        logFiles(files);
    });
}

dt_error CDownloadManagerProxy::getGroupState(std::int32_t groupId, CDownloadManager::GroupState& state)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("getGroupState", dt_error(2), [&] {
        std::shared_ptr<CDownloadGroup> group = m_groupManager->findDownloadGroup(groupId);
        if (!group)
            return dt_error(1);
        group->getGroupState(state);
        return dt_error(0);
    });
}

void CDownloadManagerProxy::pauseGroup(std::int32_t groupId)
{
    commandGroup(*m_groupManager, kProxyName, "pauseGroup", groupId, GroupCommand::pause);
}

void CDownloadManagerProxy::resumeGroup(std::int32_t groupId)
{
    commandGroup(*m_groupManager, kProxyName, "resumeGroup", groupId, GroupCommand::resume);
}

void CDownloadManagerProxy::cancelGroup(std::int32_t groupId)
{
    commandGroup(*m_groupManager, kProxyName, "cancelGroup", groupId, GroupCommand::cancel);
}

void CDownloadManagerProxy::fetchGroupsStates(std::vector<CDownloadManager::GroupState>& states)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("fetchGroupsStates", [&] { fetchGroupsStatesLocked(states); });
}

void CDownloadManagerProxy::fetchGroupsStatesLocked(std::vector<CDownloadManager::GroupState>& states)
{
    for (const CGroupManagerBase::GroupPtr& group : m_groupManager->getGroups()) {
        if (auto download = std::dynamic_pointer_cast<CDownloadGroup>(group)) {
            CDownloadManager::GroupState state;
            download->getGroupState(state);
            states.push_back(std::move(state));
        }
    }
}

unsigned int CDownloadManagerProxy::getGroupsCount()
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("getGroupsCount", 0u, [&] { return static_cast<unsigned int>(m_groupManager->getGroupsCount()); });
}

std::shared_ptr<CDownloadManagerProxy::GroupInfoMap> CDownloadManagerProxy::getGroupInfo(std::int32_t groupId)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("getGroupInfo", std::shared_ptr<GroupInfoMap>(), [&] {
        std::shared_ptr<CDownloadGroup> group = findGroupOrWarn(groupId, "getGroupInfo");
        return group ? group->getGroupInfo() : std::shared_ptr<GroupInfoMap>();
    });
}

void CDownloadManagerProxy::logConfiguration() const
{
    FV_LOG_INFO("\tPrevent Sleep: " << (m_configuration.preventSleep ? 1 : 0));
    FV_LOG_INFO("\tVerify Downloads: " << (m_configuration.verify ? 1 : 0));
    FV_LOG_INFO("\tMax concurent transfers: " << m_configuration.maxConcurrentTransfers);
    FV_LOG_INFO("\tMax transfer retries: " << m_configuration.maxTransferRetries);
    FV_LOG_INFO("\tMin multipart size: " << m_configuration.minMultipartSize);
    FV_LOG_INFO("\tTrottle Bytes/Sec: " << m_configuration.throttleBytesPerSecond);
    FV_LOG_INFO("\tRest endpoint (not used; the library's own is): " << m_configuration.restEndpoint);
}

void CDownloadManagerProxy::logFiles(const std::vector<FileDownloadDetails>& files)
{
    // The download URL is a credential: it is left out.
    for (const FileDownloadDetails& file : files) {
        FV_LOG_INFO("File download details: ");
        FV_LOG_INFO("\tFile id: " << file.id);
        FV_LOG_INFO("\tFile size: " << file.size);
        FV_LOG_INFO("\tPath: " << wideToUtf8(file.path));
        FV_LOG_INFO("\tModification date: " << file.modified);
        FV_LOG_INFO("\tMd5: " << file.md5Digest);
        FV_LOG_INFO("\t");
    }
}

} // namespace fv_transfers
