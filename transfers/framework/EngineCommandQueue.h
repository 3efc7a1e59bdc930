#pragma once

#include <Poco/Any.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

namespace fv_transfers {

// The numbered commands of the transfer engines; both engines use the same numbers.
enum EngineCommand : int {
    engineWake = 1,
    engineRequeueChannel = 2, // never posted
    engineCancelFiles = 3,
    enginePauseFiles = 4,
    engineChannelPaused = 5,
    engineResumeFiles = 6,
    engineChannelCompleted = 7,
    engineChannelErrored = 8,
    engineAddFileChannels = 9,
    engineGroupCommand = 10, // handled by neither engine
    engineStop = 11,
    engineInitFiles = 12,
    engineMarkGroup = 13,
    engineResumeGroup = 14,
    engineDequeueFile = 15,
};

// The engine thread's inbox: any thread pushes, the engine thread alone pops, in posting order.
// The lock is innermost: nothing is called while it is held.
class CEngineCommandQueue {
public:
    void push(int code, const Poco::Any& payload = Poco::Any());
    // Blocks until a command is there. The engine's stop command is the wait's end signal.
    void waitAndPop(int& code, Poco::Any& payload);
    // Drops every waiting command with that code; how many were dropped.
    std::size_t removeAll(int code);
    std::size_t size() const;

private:
    struct Command {
        int code = 0;
        Poco::Any payload;
    };

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Command> m_commands;
};

} // namespace fv_transfers
