#pragma once

#include "shell/InMemoryLogChannel.h"
#include "shell/Logger.h"

#include <Poco/AutoPtr.h>
#include <Poco/FormattingChannel.h>
#include <Poco/LogStream.h>
#include <Poco/Message.h>
#include <Poco/Mutex.h>

#include <cstddef>
#include <list>
#include <memory>

namespace ferrovan {

// The delayed log: what start-up writes before the log file's path is known, kept in memory
// (information and above) until replayDelayedMessages copies it into the file log. Each kept
// message holds "[DELAYED] " and the line as formatted when it was logged, so the file shows
// when it really happened. One exists at a time (its Poco logger has a fixed name).
class InMemoryLogger : public ILogger {
public:
    explicit InMemoryLogger(std::size_t capacity = InMemoryLogChannel::kDefaultCapacity);
    ~InMemoryLogger() override;
    InMemoryLogger(const InMemoryLogger&) = delete;
    InMemoryLogger& operator=(const InMemoryLogger&) = delete;

    Poco::LogStream& getStream() override;
    void lock() override;
    void unlock() override;

    // Oldest first.
    std::list<Poco::Message> getMessages() const;
    // How many messages came after the store was full.
    std::size_t getDroppedCount() const;

private:
    Poco::Mutex m_mutex; // recursive: a holder of lock() may log through logLine
    Poco::AutoPtr<InMemoryLogChannel> m_store;
    Poco::AutoPtr<Poco::FormattingChannel> m_delayedPrefix;
    Poco::AutoPtr<Poco::FormattingChannel> m_formatter;
    std::unique_ptr<Poco::LogStream> m_stream;
};

// Writes every kept message (information and above) into `target`, oldest first, each
// at its own priority and as a line of its own; then how many were dropped, if any. The delayed
// log keeps its messages. Nothing when `target` is null.
void replayDelayedMessages(const InMemoryLogger& delayed, ILogger* target);

} // namespace ferrovan
