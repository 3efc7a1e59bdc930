#pragma once

#include "core/http/PocoSslInitializer.h"
#include "download/DownloadEngine.h"
// The exported records come with the group manager; the facade's source includes this header.
#include "download/DownloadGroupManager.h"
#include "framework/TransferManagerProxyBase.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

// The working object behind CDownloadManager: the download groups, the engine and its thread,
// the executor, TLS, and the bucket check at start-up. Every public operation takes the proxy
// lock (hasActiveTransfers takes the engine's), catches and logs its exceptions and answers the
// neutral value.
//
// The configuration's restEndpoint is logged, never used: every REST call of the library goes to
// CFvTransfersGlobalConfig's endpoint.
class CDownloadManagerProxy : public CTransferManagerProxyBase {
public:
    using GroupInfoMap = CDownloadManager::GroupInfoMap;

    // Restores the stored groups and starts asking for their buckets' status.
    explicit CDownloadManagerProxy(Environment environment = Environment());
    // Stops sleep handling, the engine, the bucket check and the executor's tasks, then the
    // groups; TLS ends last.
    ~CDownloadManagerProxy() override;

    bool hasActiveTransfers() const;
    CTransferManagerBase::Configuration getConfiguration();
    dt_error setConfiguration(const CTransferManagerBase::Configuration& configuration);
    std::int32_t createGroup(const std::string& bucketId, const std::string& token, const std::string& bucketType,
                             std::uint64_t tokenExpires, const std::wstring& downloadPath,
                             const std::shared_ptr<GroupInfoMap>& groupInfo);
    std::int32_t findGroupByBucketId(const std::string& bucketId);
    void subscribeToEvents(CDownloadManager::ICallback* callback);
    void queueFiles(std::int32_t groupId, const std::vector<FileDownloadDetails>& files);
    void dequeueFiles(std::int32_t groupId, const std::vector<FileDownloadDetails>& files);
    dt_error getGroupState(std::int32_t groupId, CDownloadManager::GroupState& state);
    void pauseGroup(std::int32_t groupId);
    void resumeGroup(std::int32_t groupId);
    void cancelGroup(std::int32_t groupId);
    void fetchGroupsStates(std::vector<CDownloadManager::GroupState>& states);
    unsigned int getGroupsCount();
    std::shared_ptr<GroupInfoMap> getGroupInfo(std::int32_t groupId);

    // For tests: the engine's thread runs.
    bool isEngineRunning() const;

protected:
    void startupLocked() override;
    void shutdownLocked() override;

private:
    static CDownloadEngine::Limits limitsOf(const CTransferManagerBase::Configuration& configuration);
    void logConfiguration() const;
    static void logFiles(const std::vector<FileDownloadDetails>& files);
    void fetchGroupsStatesLocked(std::vector<CDownloadManager::GroupState>& states);
    // The download group of that id; logs the warning naming `operation` when there is none.
    std::shared_ptr<CDownloadGroup> findGroupOrWarn(std::int32_t groupId, const char* operation);

    CTransferManagerBase::Configuration m_configuration;
    CPocoSslInitializer m_ssl; // first made, last gone
    // Both live until the destructor has stopped the executor: the groups go first, the engine
    // last, since files still call it while they go.
    std::unique_ptr<CDownloadGroupManager> m_groupManager;
    std::unique_ptr<CDownloadEngine> m_engine;
    CDownloadManager::ICallback* m_callback = nullptr;
};

} // namespace fv_transfers
