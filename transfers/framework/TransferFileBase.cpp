#include "framework/TransferFileBase.h"

#include "framework/TransferChannel.h"

namespace fv_transfers {

void CTransferFileBase::callLocked()
{
    std::lock_guard<std::mutex> guard(fileLock);
    markReleased();
}

void CTransferFileBase::getActiveChannels(std::vector<std::shared_ptr<ITransferChannel>>& list)
{
    std::lock_guard<std::mutex> guard(fileLock);
    channels.getAllWithState(list, ITransferChannel::stateRunning);
}

bool CTransferFileBase::isReleased()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return released;
}

void CTransferFileBase::forEachChannel(const ChannelFunction& function)
{
    CFileChannelsInfo::ChannelList copy;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        channels.getAllChannels(copy);
    }
    for (const auto& channel : copy)
        function(channel);
}

void CTransferFileBase::markReleased()
{
    released = true;
}

} // namespace fv_transfers
