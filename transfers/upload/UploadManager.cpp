#include "upload/UploadManager.h"

#include "core/log/LoggedGuard.h"
#include "upload/UploadManagerProxy.h"

#include <utility>

namespace fv_transfers {

namespace {

constexpr const char* kMemberPrefix = "Exception when executing method fv_transfers::CUploadManager::";

} // namespace

CUploadManager::Configuration::Configuration() : serverTransferProgressInterval(300000) {}

CUploadManager::GroupState::GroupState() : marked(false) {}

std::uint32_t CUploadManager::progressIntervalSeconds(std::uint32_t intervalMs)
{
    const std::uint32_t seconds = intervalMs / 1000;
    return seconds == 0 ? 300 : seconds;
}

CUploadManager::CUploadManager()
{
    loggedGuard(kMemberPrefix, "CUploadManager", ": ", [&] { m_proxy = std::make_unique<CUploadManagerProxy>(); });
}

CUploadManager::CUploadManager(std::unique_ptr<CUploadManagerProxy> proxy) : m_proxy(std::move(proxy)) {}

CUploadManager::~CUploadManager()
{
    loggedGuard(kMemberPrefix, "~CUploadManager", ": ", [&] { m_proxy.reset(); });
}

void CUploadManager::startup()
{
    forwardGuarded(m_proxy, kMemberPrefix, "startup", [&] { m_proxy->startup(); });
}

void CUploadManager::shutdown()
{
    forwardGuarded(m_proxy, kMemberPrefix, "shutdown", [&] { m_proxy->shutdown(); });
}

bool CUploadManager::hasActiveTransfers()
{
    return forwardGuarded(m_proxy, kMemberPrefix, "hasActiveTransfers", false,
                          [&] { return m_proxy->hasActiveTransfers(); });
}

CUploadManager::Configuration CUploadManager::getConfiguration()
{
    return forwardGuarded(m_proxy, kMemberPrefix, "getConfiguration", Configuration(),
                          [&] { return m_proxy->getConfiguration(); });
}

dt_error CUploadManager::setConfiguration(Configuration& configuration)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "setConfiguration", dt_error(2),
                          [&] { return m_proxy->setConfiguration(configuration); });
}

int CUploadManager::createGroup(std::string& bucketId, std::string& bucketType, std::string& token,
                                std::uint64_t tokenExpires)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "createGroup", -1, [&] {
        return static_cast<int>(m_proxy->createGroup(bucketId, bucketType, token, tokenExpires));
    });
}

int CUploadManager::findGroupByBucketId(std::string& bucketId)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "findGroupByBucketId", -1,
                          [&] { return static_cast<int>(m_proxy->findGroupByBucketId(bucketId)); });
}

void CUploadManager::subscribeToEvents(ICallback* callback)
{
    forwardGuarded(m_proxy, kMemberPrefix, "subscribeToEvents", [&] { m_proxy->subscribeToEvents(callback); });
}

void CUploadManager::queueFiles(int groupId, std::vector<FileDesc>& files)
{
    forwardGuarded(m_proxy, kMemberPrefix, "queueFiles", [&] { m_proxy->queueFiles(groupId, files); });
}

void CUploadManager::dequeueFile(int groupId, std::vector<FileDesc>& files)
{
    forwardGuarded(m_proxy, kMemberPrefix, "dequeueFile", [&] { m_proxy->dequeueFile(groupId, files); });
}

void CUploadManager::markQueue(int groupId)
{
    forwardGuarded(m_proxy, kMemberPrefix, "markQueue", [&] { m_proxy->markQueue(groupId); });
}

void CUploadManager::unmarkQueue(int groupId)
{
    forwardGuarded(m_proxy, kMemberPrefix, "unmarkQueue", [&] { m_proxy->unmarkQueue(groupId); });
}

bool CUploadManager::isQueueMarked(int groupId)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "isQueueMarked", false,
                          [&] { return m_proxy->isQueueMarked(groupId); });
}

dt_error CUploadManager::getGroupState(int groupId, GroupState& state)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "getGroupState", dt_error(2),
                          [&] { return m_proxy->getGroupState(groupId, state); });
}

void CUploadManager::pauseGroup(int groupId)
{
    forwardGuarded(m_proxy, kMemberPrefix, "pauseGroup", [&] { m_proxy->pauseGroup(groupId); });
}

void CUploadManager::resumeGroup(int groupId)
{
    forwardGuarded(m_proxy, kMemberPrefix, "resumeGroup", [&] { m_proxy->resumeGroup(groupId); });
}

void CUploadManager::cancelGroup(int groupId)
{
    forwardGuarded(m_proxy, kMemberPrefix, "cancelGroup", [&] { m_proxy->cancelGroup(groupId); });
}

void CUploadManager::fetchGroupsInfo(std::vector<GroupState>& states)
{
    forwardGuarded(m_proxy, kMemberPrefix, "fetchGroupsInfo", [&] { m_proxy->fetchGroupsInfo(states); });
}

unsigned int CUploadManager::getGroupsCount()
{
    return forwardGuarded(m_proxy, kMemberPrefix, "getGroupsCount", 0u, [&] { return m_proxy->getGroupsCount(); });
}

} // namespace fv_transfers
