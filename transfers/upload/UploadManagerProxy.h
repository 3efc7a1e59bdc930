#pragma once

#include "core/http/PocoSslInitializer.h"
// The exported records come with the group manager; the facade's source includes this header.
#include "framework/TransferManagerProxyBase.h"
#include "upload/GroupManager.h"
#include "upload/UploadEngine.h"
#include "upload/UploadFileFactory.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

// The working object behind CUploadManager: the upload groups, the engine and its thread, the
// executor, TLS, the bucket check at start-up and the progress sender's interval. Every public
// operation takes the proxy lock (hasActiveTransfers takes the engine's), catches and logs its
// exceptions and answers the neutral value.
class CUploadManagerProxy : public CTransferManagerProxyBase {
public:
    // Restores the stored groups and starts asking for their buckets' status. `files` is given to
    // every upload file (tests replace its tables and channel seams).
    explicit CUploadManagerProxy(Environment environment = Environment(), UploadFileEnvironment files = {});
    // Stops sleep handling, the engine, the bucket check and the executor's tasks, then the
    // groups; TLS ends last.
    ~CUploadManagerProxy() override;

    bool hasActiveTransfers() const;
    CUploadManager::Configuration getConfiguration();
    dt_error setConfiguration(const CUploadManager::Configuration& configuration);
    std::int32_t createGroup(const std::string& bucketId, const std::string& bucketType, const std::string& token,
                             std::uint64_t tokenExpires);
    std::int32_t findGroupByBucketId(const std::string& bucketId);
    void subscribeToEvents(CUploadManager::ICallback* callback);
    // Files an unknown group cannot take get one ERRORED event each.
    void queueFiles(std::int32_t groupId, const std::vector<UploadFileDesc>& files);
    void dequeueFile(std::int32_t groupId, const std::vector<UploadFileDesc>& files);
    void markQueue(std::int32_t groupId);
    void unmarkQueue(std::int32_t groupId);
    bool isQueueMarked(std::int32_t groupId);
    dt_error getGroupState(std::int32_t groupId, CUploadManager::GroupState& state);
    void pauseGroup(std::int32_t groupId);
    void resumeGroup(std::int32_t groupId);
    void cancelGroup(std::int32_t groupId);
    void fetchGroupsInfo(std::vector<CUploadManager::GroupState>& states);
    unsigned int getGroupsCount();

    // For tests: the engine's thread runs.
    bool isEngineRunning() const;

protected:
    void startupLocked() override;
    void shutdownLocked() override;

private:
    static CUploadEngine::Limits limitsOf(const CUploadManager::Configuration& configuration);
    void logConfiguration() const;
    static void logFileDescs(const std::vector<UploadFileDesc>& files);
    void applyProgressInterval() const;
    void fetchGroupsInfoLocked(std::vector<CUploadManager::GroupState>& states);
    // The upload group of that id; logs the warning naming `operation` when there is none.
    std::shared_ptr<CUploadGroup> findGroupOrWarn(std::int32_t groupId, const char* operation);
    // Calls before startup are carried out; they only leave a warning.
    void warnIfNotStarted(const char* text) const;
    void refuseFiles(std::int32_t groupId, const std::vector<UploadFileDesc>& files);

    CUploadManager::Configuration m_configuration;
    CPocoSslInitializer m_ssl; // first made, last gone
    // Both live until the destructor has stopped the executor: the groups go first, the engine
    // last, since files still call it while they go.
    std::unique_ptr<CGroupManager> m_groupManager;
    std::unique_ptr<CUploadEngine> m_engine;
    CUploadManager::ICallback* m_callback = nullptr;
};

} // namespace fv_transfers
