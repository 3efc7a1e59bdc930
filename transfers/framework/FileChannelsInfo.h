#pragma once

#include "framework/TransferChannel.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace fv_transfers {

// The channels of one file with their last known states, in creation order. Not locked: the
// owning file guards it with its own lock.
class CFileChannelsInfo {
public:
    using ChannelList = std::vector<std::shared_ptr<ITransferChannel>>;

    // Appends with state running.
    void addChannel(const std::shared_ptr<ITransferChannel>& channel);
    void getAllWithState(ChannelList& channels, ITransferChannel::State state) const;
    std::uint32_t getCountOfChannelsWithState(ITransferChannel::State state) const;
    void getAllChannels(ChannelList& channels) const;
    // An unknown channel is ignored.
    void setChannelState(const ITransferChannel* channel, ITransferChannel::State state);

private:
    struct Entry {
        std::shared_ptr<ITransferChannel> channel;
        ITransferChannel::State state;
    };
    std::vector<Entry> m_entries;
};

} // namespace fv_transfers
