#pragma once

#include <Poco/Any.h>

#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace ferrovan {

// What to do once the program has shut down, queued during the run (first in, first out).
class AppExitFlags {
public:
    enum Flag {
        kNone = 0,    // what peekFlag gives for an empty queue
        kRestart = 2, // payload, when there is one: std::vector<std::string>, the new process's arguments
    };

    class EmptyQueueException : public std::runtime_error {
    public:
        EmptyQueueException() : std::runtime_error("There are no flags in queue!") {}
    };

    void pushFlag(int flag, const Poco::Any& payload = Poco::Any());
    // The front flag, or kNone when the queue is empty.
    int peekFlag() const;
    bool frontHasPayload() const;
    // Both throw EmptyQueueException when the queue is empty.
    int popFlag();
    std::pair<int, Poco::Any> popFlagWithPayload();

private:
    mutable std::mutex m_lock;
    std::deque<std::pair<int, Poco::Any>> m_flags;
};

} // namespace ferrovan
