#pragma once

#include "framework/TransferChannel.h"

#include <cstdint>
#include <memory>

namespace fv_transfers {

class ITransferFile;

// How groups and the group manager reach their engine without knowing its kind. Both calls may
// come from any thread and return at once.
class ITransferEngineCallback {
public:
    // Payload of the engine's resume-group command. The group travels as its id, looked up in
    // the group manager when the command runs: a freed group's address can come back.
    struct GroupResumeInfo {
        std::int32_t groupId = 0;
        bool flag = false; // passed on to the group's resumeGroupAsync
    };

    // A channel with its state, as the command set carries it.
    struct ChannelInfo {
        std::shared_ptr<ITransferChannel> channel;
        ITransferChannel::State state = ITransferChannel::stateNew;
    };

    virtual ~ITransferEngineCallback() = default;

    // Posts the resume-group command; the engine thread resumes the group if it is still listed.
    virtual void resumeGroup(std::int32_t groupId, bool flag) = 0;
    // Whether a running, pending or parked channel of the engine belongs to `file`; answered
    // under the engine's channel-list lock.
    virtual bool hasChannelsOfFile(const ITransferFile* file) const = 0;
};

} // namespace fv_transfers
