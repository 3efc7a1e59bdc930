#pragma once

#include "framework/TransferManagerBase.h"
#include "records/TransferRecords.h"

#include <cstdint>
#include <string>

namespace fv_transfers {

class IDownloadEngineCallback;

// The group of a download file, as the file sees it. The file calls it without holding its own
// lock (lock order: group, then file).
class IDownloadFileOwner {
public:
    virtual ~IDownloadFileOwner() = default;

    virtual std::int32_t getGroupId() const = 0;
    virtual void getBucketId(std::string& bucketId) const = 0;
    virtual void getBucketToken(std::string& token) const = 0;
    virtual bool isCancelled() = 0;
    virtual IDownloadEngineCallback* getDownloadEngine() = 0;
    // A file's progress or state change. `delta` is the bytes moved since the last event (negative
    // takes progress back); `snapshot` has the file's state, error kind and byte counts (the group
    // fills its id and bucket id). `discard`: the file is unusable and must be re-created. Takes
    // the group's lock; ignored once the group is cancelled.
    virtual void notifyFileStateChanged(const FileDownloadDetails& details, std::int64_t delta,
                                        const CTransferManagerBase::FileState& snapshot, bool discard) = 0;
};

} // namespace fv_transfers
