#pragma once

#include <Poco/BasicEvent.h>
#include <Poco/Types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace fv_transfers {

class ITransferFile;

// Idle time-outs of a channel's connection, in milliseconds.
struct ChannelTimeouts {
    std::uint32_t connectionMs = 0;
    std::uint32_t sendMs = 0;
    std::uint32_t receiveMs = 0;
};

// One byte range of one local file moved over one HTTP connection on a thread of its own.
// The engine drives it; the owning file and the engine learn of progress and of its end through
// the two events, raised on the channel's thread.
class ITransferChannel {
public:
    // The stored state takes 0, 1, 4, 5 and 6; 2 and 3 are only reported. 5 and 6 are terminal
    // until the run ends: pause and resume leave them.
    enum State : std::int32_t {
        stateNew = 0,
        stateRunning = 1,
        stateErrored = 2,
        stateCompleted = 3,
        statePaused = 4,
        stateStopRequested = 5,
        stateCancelRequested = 6,
    };

    // Detail of an errored end (state 2); 0 for every other state.
    enum Outcome : std::int32_t {
        outcomeInternal = 0,  // no file object, or an exception ended the run
        outcomeLocalFile = 1, // open or seek failed, or the last attempt failed on the local file
        outcomeConnect = 3,   // every attempt failed to connect, or prepare gave 13
        outcomeData = 4,      // every attempt failed moving data
        outcomePrepare = 6,   // prepare gave another non-zero value
    };

    struct StateEventData {
        std::int32_t state = 0;
        std::int32_t outcome = 0;
    };

    // Bytes added to the transferred count; negative when progress is taken back.
    Poco::BasicEvent<Poco::Int64> progressEvent;
    Poco::BasicEvent<StateEventData> stateEvent;

    virtual ~ITransferChannel() = default;

    // Taken only while the thread is not running. At least one attempt is made.
    virtual void setMaxRetries(int maxRetries) = 0;
    // Bytes per second; 0 = no limit. Read after every chunk.
    virtual void setSpeedLimit(unsigned bytesPerSecond) = 0;
    virtual void setTimeouts(const ChannelTimeouts& timeouts) = 0;
    virtual void setUrl(const std::string& url) = 0;
    // Starts a run unless one is running; a channel paused before start waits paused.
    virtual int start() = 0;
    // Requests stop (5) and joins the thread.
    virtual void stop() = 0;
    virtual bool isRunning() = 0;
    // Requests cancel (6) and returns; `completion` is called once with whether the run ended
    // as cancelled (false at once when a stop is already pending; on an ended run, whether the
    // channel never reported).
    virtual void stopAsync(std::function<void(int)> completion) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual bool isPaused() = 0;
    // The start of the range in the file.
    virtual std::uint64_t getOffset() = 0;
    virtual ITransferFile* getOwnerFile() = 0;
    virtual void setOwnerFile(ITransferFile* file) = 0;
};

} // namespace fv_transfers
