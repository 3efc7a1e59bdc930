#pragma once

#include <Poco/Channel.h>
#include <Poco/Message.h>
#include <Poco/Mutex.h>

#include <cstddef>
#include <list>

namespace ferrovan {

// Keeps the messages it is given, oldest first, up to a bound: start-up can log thousands of
// removed files before the log file exists, and memory must not grow with them. Once full it
// only counts what it drops, so the replay can say how many lines are missing.
class InMemoryLogChannel : public Poco::Channel {
public:
    static constexpr std::size_t kDefaultCapacity = 1000;

    explicit InMemoryLogChannel(std::size_t capacity = kDefaultCapacity);

    void log(const Poco::Message& msg) override;

    std::list<Poco::Message> getMessages() const;
    std::size_t getDroppedCount() const;

protected:
    ~InMemoryLogChannel() override = default;

private:
    const std::size_t m_capacity;
    mutable Poco::FastMutex m_mutex;
    std::list<Poco::Message> m_messages;
    std::size_t m_dropped = 0;
};

} // namespace ferrovan
