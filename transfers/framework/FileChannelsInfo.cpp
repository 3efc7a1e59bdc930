#include "framework/FileChannelsInfo.h"

#include <algorithm>

namespace fv_transfers {

void CFileChannelsInfo::addChannel(const std::shared_ptr<ITransferChannel>& channel)
{
    m_entries.push_back({channel, ITransferChannel::stateRunning});
}

void CFileChannelsInfo::getAllWithState(ChannelList& channels, ITransferChannel::State state) const
{
    for (const Entry& entry : m_entries)
        if (entry.state == state)
            channels.push_back(entry.channel);
}

std::uint32_t CFileChannelsInfo::getCountOfChannelsWithState(ITransferChannel::State state) const
{
    return static_cast<std::uint32_t>(std::count_if(m_entries.begin(), m_entries.end(),
                                                    [state](const Entry& entry) { return entry.state == state; }));
}

void CFileChannelsInfo::getAllChannels(ChannelList& channels) const
{
    for (const Entry& entry : m_entries)
        channels.push_back(entry.channel);
}

void CFileChannelsInfo::setChannelState(const ITransferChannel* channel, ITransferChannel::State state)
{
    for (Entry& entry : m_entries)
        if (entry.channel.get() == channel) {
            entry.state = state;
            return;
        }
}

} // namespace fv_transfers
