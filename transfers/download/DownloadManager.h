#pragma once

#include "core/base/DtError.h"
#include "core/base/FvTransfersExport.h"
#include "framework/TransferManagerBase.h"
#include "records/TransferRecords.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

class CDownloadManagerProxy;

// The exported download manager: a facade over its proxy. No member lets an exception out: one
// that escapes is logged and the member answers its neutral value (void, false, -1, 2, an empty
// pointer, 0). Results: 0 success, 1 no download group has that id, 2 an exception was caught.
//
// Every REST call of the library goes to CFvTransfersGlobalConfig's endpoint: the configuration's
// restEndpoint is logged and kept, never used.
class FV_TRANSFERS_API CDownloadManager : public CTransferManagerBase {
public:
    using DownloadDetails = fv_transfers::DownloadDetails;
    using FileDownloadDetails = fv_transfers::FileDownloadDetails;
    using GroupInfoMap = std::map<std::string, std::string>;

    struct FV_TRANSFERS_API GroupState : public CTransferManagerBase::GroupState {
        GroupState();

        std::wstring downloadPath; // the destination folder as a local path
        // The map given at creation, shared, never copied; rebuilt from the stored entries after
        // a restart. Empty when the group has none.
        std::shared_ptr<GroupInfoMap> groupInfo;
    };

    // Implemented by the caller. Called on the library's threads: copy what is needed, return
    // quickly, never call back into the manager from inside.
    class ICallback {
    public:
        virtual void onGroupStateChanged(const GroupState& state) = 0;
        virtual void onFileStateChanged(const CTransferManagerBase::FileState& state) = 0;

    protected:
        ~ICallback() = default;
    };

    // Restores the stored download groups; no thread runs before startup.
    CDownloadManager();
    // With a proxy built by the library's own tests (their sleep and bucket-check seams).
    __attribute__((visibility("hidden"))) explicit CDownloadManager(std::unique_ptr<CDownloadManagerProxy> proxy);
    ~CDownloadManager() override;
    CDownloadManager(const CDownloadManager&) = delete;
    CDownloadManager& operator=(const CDownloadManager&) = delete;

    // Checks the stored groups' buckets with the service, starts the engine and reports every
    // group's state to the subscriber.
    void startup() override;
    // Stops the engine and waits for it.
    void shutdown() override;
    bool hasActiveTransfers();
    // A copy taken under the proxy's lock (a reference would outlive it).
    CTransferManagerBase::Configuration getConfiguration();
    dt_error setConfiguration(CTransferManagerBase::Configuration& configuration);
    // The bucket type second and the token third; the new group's id, or -1.
    int createGroup(std::string& bucketId, std::string& bucketType, std::string& token, std::uint64_t tokenExpires,
                    std::wstring& downloadPath, std::shared_ptr<GroupInfoMap>& groupInfo);
    int findGroupByBucketId(std::string& bucketId);
    // The one receiver of the manager's and every group's events; null stops them.
    void subscribeToEvents(ICallback* callback);
    void queueFiles(int groupId, std::vector<FileDownloadDetails>& files);
    // Only each file's id is read.
    void dequeueFiles(int groupId, std::vector<FileDownloadDetails>& files);
    // 1, with the record untouched, when no download group has that id.
    dt_error getGroupState(int groupId, GroupState& state);
    void pauseGroup(int groupId);
    // A manual resume: the group's retry counter starts again.
    void resumeGroup(int groupId);
    void cancelGroup(int groupId);
    // Appends one record per group, in the group manager's order.
    void fetchGroupsStates(std::vector<GroupState>& states);
    unsigned int getGroupsCount();
    // The very map given to createGroup (rebuilt from the stored entries after a restart).
    std::shared_ptr<GroupInfoMap> getGroupInfo(int groupId);

private:
    std::unique_ptr<CDownloadManagerProxy> m_proxy;
};

} // namespace fv_transfers
