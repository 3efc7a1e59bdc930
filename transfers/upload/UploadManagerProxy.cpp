#include "upload/UploadManagerProxy.h"

#include "core/base/StringConversion.h"
#include "core/config/SystemInfo.h"
#include "core/log/FvTransfersLogger.h"
#include "core/log/LoggedGuard.h"
#include "db/DbDataLoader.h"
#include "framework/FileProgressSender.h"
#include "upload/UploadGroup.h"

#include <algorithm>
#include <utility>

namespace fv_transfers {

namespace {

constexpr const char* kProxyName = "fv_transfers::CUploadManagerProxy::";

// Runs one public operation; an exception is logged under the operation's name and the neutral
// value answered.
template <typename... Args> auto guarded(const char* operation, Args&&... args)
{
    return loggedGuard(kProxyName, operation, ": Exception: ", std::forward<Args>(args)...);
}

} // namespace

CUploadEngine::Limits CUploadManagerProxy::limitsOf(const CUploadManager::Configuration& configuration)
{
    CUploadEngine::Limits limits;
    limits.maxConcurrentTransfers = std::max<std::uint32_t>(1, configuration.maxConcurrentTransfers);
    limits.maxTransferRetries = configuration.maxTransferRetries;
    limits.throttleBytesPerSecond = configuration.throttleBytesPerSecond;
    return limits;
}

CUploadManagerProxy::CUploadManagerProxy(Environment environment, UploadFileEnvironment files)
    : CTransferManagerProxyBase("fv-ul", std::move(environment)), m_groupManager(std::make_unique<CGroupManager>()),
      m_engine(std::make_unique<CUploadEngine>(*m_groupManager, limitsOf(m_configuration)))
{
    createTasksExecutor(m_configuration.maxConcurrentTransfers, *m_groupManager, m_engine.get());
    guarded("CUploadManagerProxy", [&] {
        FV_LOG_INFO("");
        FV_LOG_INFO("----- Initializing Upload Manager: " << CSystemInfo::getInstance().getModuleVersion() << " -----");
        FV_LOG_INFO("***** OS Info: " << CSystemInfo::getInstance().getOsProductName() << " *****");
        FV_LOG_INFO("");
        FV_LOG_INFO("Default configuration:");
        logConfiguration();
        applyProgressInterval();

        if (!files.executor)
            files.executor = m_tasksExecutor;
        m_groupManager->setFileEnvironment(files);
        CDbDataLoader& loader = CDbDataLoader::getInstance();
        loader.loadUploadData();
        try {
            m_groupManager->restoreGroups(m_configuration.minMultipartSize, m_configuration.verify);
        } catch (...) {
            loader.releaseUploadData();
            throw;
        }
        loader.releaseUploadData();

        createSynchronizer(*m_groupManager, false);
    });
    attachActiveTransfers(*m_engine);
    setPreventSleep(m_configuration.preventSleep);
    enableSleepHandling();
}

CUploadManagerProxy::~CUploadManagerProxy()
{
    disableSleepHandling();
    guarded("~CUploadManagerProxy", [&] {
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

void CUploadManagerProxy::startupLocked()
{
    guarded("startup", [&] {
        FV_LOG_INFO("Starting up upload engine!");
        if (!m_engine->isThreadRunning()) {
            runBucketCheck();
            m_engine->init();
            onEngineStarted();
        }
        m_engine->wakeUp();
        if (!m_callback)
            return;
        std::vector<CUploadManager::GroupState> states;
        fetchGroupsInfoLocked(states);
        for (const CUploadManager::GroupState& state : states)
            m_callback->onGroupStateChanged(state);
    });
}

void CUploadManagerProxy::shutdownLocked()
{
    guarded("shutdown", [&] {
        FV_LOG_INFO("Shutting down upload engine!");
        m_engine->uninit();
        onEngineStopped();
        FV_LOG_INFO("Upload engine finished shutting down!");
    });
}

bool CUploadManagerProxy::hasActiveTransfers() const
{
    return guarded("hasActiveTransfers", false, [&] { return m_engine->hasActiveTransfers(); });
}

bool CUploadManagerProxy::isEngineRunning() const
{
    return m_engine->isThreadRunning();
}

void CUploadManagerProxy::warnIfNotStarted(const char* text) const
{
    if (!m_engine->isThreadRunning())
        FV_LOG_WARNING(text);
}

void CUploadManagerProxy::applyProgressInterval() const
{
    if (std::shared_ptr<CFileProgressSender> sender = CFileProgressSender::getInstance())
        sender->setInterval(
            static_cast<int>(CUploadManager::progressIntervalSeconds(m_configuration.serverTransferProgressInterval)));
}

CUploadManager::Configuration CUploadManagerProxy::getConfiguration()
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return m_configuration;
}

dt_error CUploadManagerProxy::setConfiguration(const CUploadManager::Configuration& configuration)
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
        FV_LOG_INFO("Upload manager configuration changed. New configuration:");
        logConfiguration();
        applyProgressInterval();
        return dt_error(0);
    });
}

std::int32_t CUploadManagerProxy::createGroup(const std::string& bucketId, const std::string& bucketType,
                                              const std::string& token, std::uint64_t tokenExpires)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("createGroup", std::int32_t(-1), [&] {
        warnIfNotStarted("Unable to create group, since upload manager is not yet started!");
        CUploadGroup::TransferGroupInitParams params;
        params.bucketId = bucketId;
        params.bucketToken = token;
        params.bucketType = bucketType;
        params.tokenExpiration = tokenExpires;
        params.isNew = true;
        params.minMultipartSize = m_configuration.minMultipartSize;
        params.engineCallback = m_engine.get();
        params.verify = m_configuration.verify;
        params.callback = m_callback;
        const std::int32_t id = m_groupManager->addGroup(params);
        // The token grants access to the user's files and the log goes to the help desk.
        FV_LOG_INFO("Created group with id: " << id << ". Bucket id: " << bucketId << ". Bucket token: ***");
        return id;
    });
}

std::int32_t CUploadManagerProxy::findGroupByBucketId(const std::string& bucketId)
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

void CUploadManagerProxy::subscribeToEvents(CUploadManager::ICallback* callback)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("subscribeToEvents", [&] {
        m_callback = callback;
        m_groupManager->setCallbackForAllGroups(callback);
    });
}

std::shared_ptr<CUploadGroup> CUploadManagerProxy::findGroupOrWarn(std::int32_t groupId, const char* operation)
{
    std::shared_ptr<CUploadGroup> group = m_groupManager->findUploadGroup(groupId);
    if (!group)
        FV_LOG_WARNING(kProxyName << operation << ": Unable to find group with id " << groupId);
    return group;
}

void CUploadManagerProxy::refuseFiles(std::int32_t groupId, const std::vector<UploadFileDesc>& files)
{
    if (!m_callback)
        return;
    for (const UploadFileDesc& file : files) {
        CTransferManagerBase::FileState state;
        state.id = groupId;
        state.fileId = file.fileUid;
        state.state = CTransferManagerBase::FILE_ERRORED;
        m_callback->onFileStateChanged(state);
    }
}

void CUploadManagerProxy::queueFiles(std::int32_t groupId, const std::vector<UploadFileDesc>& files)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("queueFiles", [&] {
        warnIfNotStarted("Unable to queue files, since upload manager is not yet started!");
        std::shared_ptr<CUploadGroup> group = findGroupOrWarn(groupId, "queueFiles");
        if (!group) {
            refuseFiles(groupId, files);
            return;
        }
        group->addFiles(files);
        m_engine->wakeUp();
        FV_LOG_INFO("Adding the following files to group with id " << groupId << ": ");
        logFileDescs(files);
    });
}

void CUploadManagerProxy::dequeueFile(std::int32_t groupId, const std::vector<UploadFileDesc>& files)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("dequeueFile", [&] {
        std::shared_ptr<CUploadGroup> group = findGroupOrWarn(groupId, "dequeueFile");
        if (!group)
            return;
        group->removeFiles(files);
        FV_LOG_INFO("Removing the following files from group with id " << groupId << ": ");
        logFileDescs(files);
    });
}

void CUploadManagerProxy::markQueue(std::int32_t groupId)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("markQueue", [&] {
        warnIfNotStarted("Unable to mark queue, since upload manager is not yet started!");
        if (std::shared_ptr<CUploadGroup> group = findGroupOrWarn(groupId, "markQueue")) {
            group->markQueue();
            FV_LOG_INFO("Marked group with id " << groupId);
        }
    });
}

void CUploadManagerProxy::unmarkQueue(std::int32_t groupId)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("unmarkQueue", [&] {
        if (std::shared_ptr<CUploadGroup> group = findGroupOrWarn(groupId, "unmarkQueue")) {
            group->unmarkQueue();
            FV_LOG_INFO("Unmarked group with id " << groupId);
        }
    });
}

bool CUploadManagerProxy::isQueueMarked(std::int32_t groupId)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("isQueueMarked", false, [&] {
        std::shared_ptr<CUploadGroup> group = findGroupOrWarn(groupId, "isQueueMarked");
        return group && group->isQueueMarked();
    });
}

dt_error CUploadManagerProxy::getGroupState(std::int32_t groupId, CUploadManager::GroupState& state)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("getGroupState", dt_error(2), [&] {
        std::shared_ptr<CUploadGroup> group = m_groupManager->findUploadGroup(groupId);
        if (!group)
            return dt_error(1);
        group->getGroupState(state);
        return dt_error(0);
    });
}

void CUploadManagerProxy::pauseGroup(std::int32_t groupId)
{
    commandGroup(*m_groupManager, kProxyName, "pauseGroup", groupId, GroupCommand::pause);
}

void CUploadManagerProxy::resumeGroup(std::int32_t groupId)
{
    commandGroup(*m_groupManager, kProxyName, "resumeGroup", groupId, GroupCommand::resume);
}

void CUploadManagerProxy::cancelGroup(std::int32_t groupId)
{
    commandGroup(*m_groupManager, kProxyName, "cancelGroup", groupId, GroupCommand::cancel);
}

void CUploadManagerProxy::fetchGroupsInfo(std::vector<CUploadManager::GroupState>& states)
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    guarded("fetchGroupsInfo", [&] { fetchGroupsInfoLocked(states); });
}

void CUploadManagerProxy::fetchGroupsInfoLocked(std::vector<CUploadManager::GroupState>& states)
{
    for (const CGroupManagerBase::GroupPtr& group : m_groupManager->getGroups()) {
        if (auto upload = std::dynamic_pointer_cast<CUploadGroup>(group)) {
            CUploadManager::GroupState state;
            upload->getGroupState(state);
            states.push_back(std::move(state));
        }
    }
}

unsigned int CUploadManagerProxy::getGroupsCount()
{
    Poco::FastMutex::ScopedLock lock(m_proxyLock);
    return guarded("getGroupsCount", 0u, [&] { return static_cast<unsigned int>(m_groupManager->getGroupsCount()); });
}

void CUploadManagerProxy::logConfiguration() const
{
    FV_LOG_INFO("\tPrevent Sleep: " << (m_configuration.preventSleep ? 1 : 0));
    FV_LOG_INFO("\tVerify Uploads: " << (m_configuration.verify ? 1 : 0));
    FV_LOG_INFO("\tMax concurent transfers: " << m_configuration.maxConcurrentTransfers);
    FV_LOG_INFO("\tMax transfer retries: " << m_configuration.maxTransferRetries);
    FV_LOG_INFO("\tMin multipart size: " << m_configuration.minMultipartSize);
    FV_LOG_INFO("\tServer transfer progress interval: " << m_configuration.serverTransferProgressInterval);
    FV_LOG_INFO("\tTrottle Bytes/Sec: " << m_configuration.throttleBytesPerSecond);
    FV_LOG_INFO("\tREST End-point: " << m_configuration.restEndpoint);
}

void CUploadManagerProxy::logFileDescs(const std::vector<UploadFileDesc>& files)
{
    for (const UploadFileDesc& file : files)
        FV_LOG_INFO("\t file url: " << wideToUtf8(file.fileUrl) << "; file uid: " << file.fileUid);
}

} // namespace fv_transfers
