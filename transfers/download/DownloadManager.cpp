#include "download/DownloadManager.h"

#include "core/base/GuardedCall.h"
#include "core/log/FvTransfersLogger.h"
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

// Nothing, whatever it is, crosses the library boundary: one log line and the neutral value.
template <typename Result, typename Call> Result guard(const char* member, Result neutral, Call&& call) noexcept
{
    return guardedCall(neutral, std::forward<Call>(call), [member](const std::string& text) {
        FV_LOG_ERROR("Exception when executing method fv_transfers::CDownloadManager::" << member << ": " << text);
    });
}

// Every member forwards through here. Without a proxy (its construction failed) the neutral
// value is the answer.
template <typename Result, typename Call>
Result forward(const std::unique_ptr<CDownloadManagerProxy>& proxy, const char* member, Result neutral,
               Call&& call) noexcept
{
    return guard(member, neutral, [&] { return proxy ? call() : neutral; });
}

template <typename Call>
void forward(const std::unique_ptr<CDownloadManagerProxy>& proxy, const char* member, Call&& call) noexcept
{
    forward(proxy, member, 0, [&] {
        call();
        return 0;
    });
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
    forward(m_proxy, "startup", [&] { m_proxy->startup(); });
}

void CDownloadManager::shutdown()
{
    forward(m_proxy, "shutdown", [&] { m_proxy->shutdown(); });
}

bool CDownloadManager::hasActiveTransfers()
{
    return forward(m_proxy, "hasActiveTransfers", false, [&] { return m_proxy->hasActiveTransfers(); });
}

CTransferManagerBase::Configuration CDownloadManager::getConfiguration()
{
    return forward(m_proxy, "getConfiguration", Configuration(), [&] { return m_proxy->getConfiguration(); });
}

dt_error CDownloadManager::setConfiguration(CTransferManagerBase::Configuration& configuration)
{
    return forward(m_proxy, "setConfiguration", dt_error(2), [&] { return m_proxy->setConfiguration(configuration); });
}

int CDownloadManager::createGroup(std::string& bucketId, std::string& bucketType, std::string& token,
                                  std::uint64_t tokenExpires, std::wstring& downloadPath,
                                  std::shared_ptr<GroupInfoMap>& groupInfo)
{
    return forward(m_proxy, "createGroup", -1, [&] {
        return static_cast<int>(
            m_proxy->createGroup(bucketId, token, bucketType, tokenExpires, downloadPath, groupInfo));
    });
}

int CDownloadManager::findGroupByBucketId(std::string& bucketId)
{
    return forward(m_proxy, "findGroupByBucketId", -1,
                   [&] { return static_cast<int>(m_proxy->findGroupByBucketId(bucketId)); });
}

void CDownloadManager::subscribeToEvents(ICallback* callback)
{
    forward(m_proxy, "subscribeToEvents", [&] { m_proxy->subscribeToEvents(callback); });
}

void CDownloadManager::queueFiles(int groupId, std::vector<FileDownloadDetails>& files)
{
    forward(m_proxy, "queueFiles", [&] { m_proxy->queueFiles(groupId, files); });
}

void CDownloadManager::dequeueFiles(int groupId, std::vector<FileDownloadDetails>& files)
{
    forward(m_proxy, "dequeueFiles", [&] { m_proxy->dequeueFiles(groupId, files); });
}

dt_error CDownloadManager::getGroupState(int groupId, GroupState& state)
{
    return forward(m_proxy, "getGroupState", dt_error(2), [&] { return m_proxy->getGroupState(groupId, state); });
}

void CDownloadManager::pauseGroup(int groupId)
{
    forward(m_proxy, "pauseGroup", [&] { m_proxy->pauseGroup(groupId); });
}

void CDownloadManager::resumeGroup(int groupId)
{
    forward(m_proxy, "resumeGroup", [&] { m_proxy->resumeGroup(groupId); });
}

void CDownloadManager::cancelGroup(int groupId)
{
    forward(m_proxy, "cancelGroup", [&] { m_proxy->cancelGroup(groupId); });
}

void CDownloadManager::fetchGroupsStates(std::vector<GroupState>& states)
{
    forward(m_proxy, "fetchGroupsStates", [&] { m_proxy->fetchGroupsStates(states); });
}

unsigned int CDownloadManager::getGroupsCount()
{
    return forward(m_proxy, "getGroupsCount", 0u, [&] { return m_proxy->getGroupsCount(); });
}

std::shared_ptr<CDownloadManager::GroupInfoMap> CDownloadManager::getGroupInfo(int groupId)
{
    return forward(m_proxy, "getGroupInfo", std::shared_ptr<GroupInfoMap>(),
                   [&] { return m_proxy->getGroupInfo(groupId); });
}

} // namespace fv_transfers
