#pragma once

#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

class ITransferChannel;

// A file in transfer as groups and engines see it.
class ITransferFile {
public:
    virtual ~ITransferFile() = default;

    virtual void getFileUid(std::string& uid) = 0;
    // The id of the bucket of the file's group.
    virtual void getBucketId(std::string& bucketId) = 0;
    virtual int getGroupId() = 0;
    // Appends the file's channels whose stored state is running.
    virtual void getActiveChannels(std::vector<std::shared_ptr<ITransferChannel>>& channels) = 0;
    // Marks the file released under its lock, so that its pending work gives up.
    virtual void callLocked() = 0;
};

} // namespace fv_transfers
