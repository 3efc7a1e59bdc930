#pragma once

#include "framework/FileChannelsInfo.h"
#include "framework/TransferFile.h"

#include <functional>
#include <memory>
#include <mutex>

namespace fv_transfers {

// The lock-holding base of every transfer file: the released flag that tells the file's pending
// work to give up, and the file's channel list under the file's lock.
class CTransferFileBase : public virtual ITransferFile {
public:
    using ChannelFunction = std::function<void(const std::shared_ptr<ITransferChannel>&)>;

    void callLocked() override;
    void getActiveChannels(std::vector<std::shared_ptr<ITransferChannel>>& channels) override;

    bool isReleased();
    // Calls `function` once per channel of a copy of the list, in list order, without the file's
    // lock, so that it may change the list. Must not be called under fileLock.
    void forEachChannel(const ChannelFunction& function);

protected:
    // Under fileLock.
    virtual void markReleased();

    bool released = false;
    std::mutex fileLock;
    CFileChannelsInfo channels; // under fileLock
};

} // namespace fv_transfers
