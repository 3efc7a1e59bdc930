#pragma once

#include "core/base/DtError.h"
#include "core/base/FvTransfersExport.h"
#include "framework/TransferManagerBase.h"
#include "records/TransferRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

class CUploadManagerProxy;

// The exported upload manager: a facade over its proxy. No member lets an exception out: one
// that escapes is logged and the member answers its neutral value (void, false, -1, 2, 0).
// Results: 0 success, 1 no upload group has that id, 2 an exception was caught.
class FV_TRANSFERS_API CUploadManager : public CTransferManagerBase {
public:
    struct FV_TRANSFERS_API Configuration : public CTransferManagerBase::Configuration {
        Configuration();

        // Least time between two progress reports of one file to the service.
        std::uint32_t serverTransferProgressInterval; // ms
    };

    struct FV_TRANSFERS_API GroupState : public CTransferManagerBase::GroupState {
        GroupState();

        bool marked; // no more files will be added; only a marked group can complete
    };

    using FileDesc = UploadFileDesc;

    // Called on library threads and, synchronously, inside some manager calls with the
    // manager's locks held: copy the record, hand it to a thread of your own, return, and
    // never call back into the manager from here. The library never deletes it.
    class ICallback {
    public:
        virtual void onGroupStateChanged(const GroupState& state) = 0;
        virtual void onFileStateChanged(const CTransferManagerBase::FileState& state) = 0;

    protected:
        ~ICallback() = default;
    };

    // The interval the file progress sender works with: whole seconds, 300 below one second.
    static std::uint32_t progressIntervalSeconds(std::uint32_t intervalMs);

    // Restores the stored upload groups; no thread runs before startup.
    CUploadManager();
    // With a proxy built by the library's own tests (their sleep and bucket-check seams).
    __attribute__((visibility("hidden"))) explicit CUploadManager(std::unique_ptr<CUploadManagerProxy> proxy);
    // Does not shut down: the owner calls shutdown first.
    ~CUploadManager() override;
    CUploadManager(const CUploadManager&) = delete;
    CUploadManager& operator=(const CUploadManager&) = delete;

    // Checks the stored groups' buckets with the service, starts the engine and reports every
    // group's state to the subscriber.
    void startup() override;
    // Stops the engine and waits for it.
    void shutdown() override;
    // Channels run or wait to start; read without the proxy's lock, so it may be stale at once.
    bool hasActiveTransfers();
    // A copy taken under the proxy's lock: a reference would outlive it.
    Configuration getConfiguration();
    // A minimum multipart size of 0 means 52428800; a maximum of 0 concurrent transfers keeps
    // the engine's limit.
    dt_error setConfiguration(Configuration& configuration);
    // The new group's id, or -1.
    int createGroup(std::string& bucketId, std::string& bucketType, std::string& token, std::uint64_t tokenExpires);
    int findGroupByBucketId(std::string& bucketId);
    // The one receiver of the manager's and every group's events; null stops them.
    void subscribeToEvents(ICallback* callback);
    // A file the group cannot take (marked or unknown group, a uid already queued, an unreadable
    // file) gets one ERRORED file event.
    void queueFiles(int groupId, std::vector<FileDesc>& files);
    // Only each file's uid is read.
    void dequeueFile(int groupId, std::vector<FileDesc>& files);
    // No more files will come: the group completes once its files are done.
    void markQueue(int groupId);
    void unmarkQueue(int groupId);
    bool isQueueMarked(int groupId);
    // 1, with the record untouched, when no upload group has that id.
    dt_error getGroupState(int groupId, GroupState& state);
    void pauseGroup(int groupId);
    // A manual resume: the group's retry counter starts again.
    void resumeGroup(int groupId);
    void cancelGroup(int groupId);
    // Appends one record per group, in the group manager's order.
    void fetchGroupsInfo(std::vector<GroupState>& states);
    unsigned int getGroupsCount();

private:
    std::unique_ptr<CUploadManagerProxy> m_proxy;
};

} // namespace fv_transfers
