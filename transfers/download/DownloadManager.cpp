#include "download/DownloadManager.h"

#include "core/log/LoggedGuard.h"
#include "download/DownloadManagerProxy.h"

#include <type_traits>
#include <utility>

namespace fv_transfers {

// The main program compiles against these records; their layout must not drift.
static_assert(std::is_same_v<decltype(CDownloadManager::GroupState::downloadPath), std::wstring>);
static_assert(
    std::is_same_v<decltype(CDownloadManager::GroupState::groupInfo), std::shared_ptr<CDownloadManager::GroupInfoMap>>);
static_assert(std::is_same_v<decltype(FileDownloadDetails::size), std::uint64_t>);
static_assert(std::is_same_v<decltype(FileDownloadDetails::modified), std::uint64_t>);

namespace {

constexpr const char* kMemberPrefix = "Exception when executing method fv_transfers::CDownloadManager::";

// Nothing, whatever it is, crosses the library boundary: one log line and the neutral value.
template <typename Result, typename Call> Result guard(const char* member, Result neutral, Call&& call) noexcept
{
    return loggedGuard(kMemberPrefix, member, ": ", neutral, std::forward<Call>(call));
}

} // namespace

CDownloadManager::GroupState::GroupState() = default;

CDownloadManager::CDownloadManager()
{
    guard("CDownloadManager", 0, [&] {
        m_proxy = std::make_unique<CDownloadManagerProxy>();
        return 0;
    });
}

CDownloadManager::CDownloadManager(std::unique_ptr<CDownloadManagerProxy> proxy) : m_proxy(std::move(proxy)) {}

CDownloadManager::~CDownloadManager()
{
    guard("~CDownloadManager", 0, [&] {
        m_proxy.reset();
        return 0;
    });
}

void CDownloadManager::startup()
{
    forwardGuarded(m_proxy, kMemberPrefix, "startup", [&] { m_proxy->startup(); });
}

void CDownloadManager::shutdown()
{
    forwardGuarded(m_proxy, kMemberPrefix, "shutdown", [&] { m_proxy->shutdown(); });
}

bool CDownloadManager::hasActiveTransfers()
{
    return forwardGuarded(m_proxy, kMemberPrefix, "hasActiveTransfers", false,
                          [&] { return m_proxy->hasActiveTransfers(); });
}

CTransferManagerBase::Configuration CDownloadManager::getConfiguration()
{
    return forwardGuarded(m_proxy, kMemberPrefix, "getConfiguration", Configuration(),
                          [&] { return m_proxy->getConfiguration(); });
}

dt_error CDownloadManager::setConfiguration(CTransferManagerBase::Configuration& configuration)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "setConfiguration", dt_error(2),
                          [&] { return m_proxy->setConfiguration(configuration); });
}

int CDownloadManager::createGroup(std::string& bucketId, std::string& bucketType, std::string& token,
                                  std::uint64_t tokenExpires, std::wstring& downloadPath,
                                  std::shared_ptr<GroupInfoMap>& groupInfo)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "createGroup", -1, [&] {
        return static_cast<int>(
            m_proxy->createGroup(bucketId, token, bucketType, tokenExpires, downloadPath, groupInfo));
    });
}

int CDownloadManager::findGroupByBucketId(std::string& bucketId)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "findGroupByBucketId", -1,
                          [&] { return static_cast<int>(m_proxy->findGroupByBucketId(bucketId)); });
}

void CDownloadManager::subscribeToEvents(ICallback* callback)
{
    forwardGuarded(m_proxy, kMemberPrefix, "subscribeToEvents", [&] { m_proxy->subscribeToEvents(callback); });
}

void CDownloadManager::queueFiles(int groupId, std::vector<FileDownloadDetails>& files)
{
    forwardGuarded(m_proxy, kMemberPrefix, "queueFiles", [&] { m_proxy->queueFiles(groupId, files); });
}

void CDownloadManager::dequeueFiles(int groupId, std::vector<FileDownloadDetails>& files)
{
    forwardGuarded(m_proxy, kMemberPrefix, "dequeueFiles", [&] { m_proxy->dequeueFiles(groupId, files); });
}

dt_error CDownloadManager::getGroupState(int groupId, GroupState& state)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "getGroupState", dt_error(2),
                          [&] { return m_proxy->getGroupState(groupId, state); });
}

void CDownloadManager::pauseGroup(int groupId)
{
    forwardGuarded(m_proxy, kMemberPrefix, "pauseGroup", [&] { m_proxy->pauseGroup(groupId); });
}

void CDownloadManager::resumeGroup(int groupId)
{
    forwardGuarded(m_proxy, kMemberPrefix, "resumeGroup", [&] { m_proxy->resumeGroup(groupId); });
}

void CDownloadManager::cancelGroup(int groupId)
{
    forwardGuarded(m_proxy, kMemberPrefix, "cancelGroup", [&] { m_proxy->cancelGroup(groupId); });
}

void CDownloadManager::fetchGroupsStates(std::vector<GroupState>& states)
{
    forwardGuarded(m_proxy, kMemberPrefix, "fetchGroupsStates", [&] { m_proxy->fetchGroupsStates(states); });
}

unsigned int CDownloadManager::getGroupsCount()
{
    return forwardGuarded(m_proxy, kMemberPrefix, "getGroupsCount", 0u, [&] { return m_proxy->getGroupsCount(); });
}

std::shared_ptr<CDownloadManager::GroupInfoMap> CDownloadManager::getGroupInfo(int groupId)
{
    return forwardGuarded(m_proxy, kMemberPrefix, "getGroupInfo", std::shared_ptr<GroupInfoMap>(),
                          [&] { return m_proxy->getGroupInfo(groupId); });
}

} // namespace fv_transfers
