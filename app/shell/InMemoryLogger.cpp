#include "shell/InMemoryLogger.h"

#include "shell/LogFormatter.h"

#include <Poco/Logger.h>
#include <Poco/PatternFormatter.h>

#include <string>

namespace ferrovan {

namespace {

const char* const kLoggerName = "FVDelayedLogger";

} // namespace

InMemoryLogger::InMemoryLogger(std::size_t capacity)
    : m_store(Poco::makeAuto<InMemoryLogChannel>(capacity)),
      m_delayedPrefix(
          Poco::makeAuto<Poco::FormattingChannel>(Poco::makeAuto<Poco::PatternFormatter>("[DELAYED] %t"), m_store)),
      m_formatter(createLogFormatter(m_delayedPrefix))
{
    Poco::Logger& logger = Poco::Logger::create(kLoggerName, m_formatter, Poco::Message::PRIO_INFORMATION);
    m_stream = std::make_unique<Poco::LogStream>(logger, Poco::Message::PRIO_DEBUG);
}

InMemoryLogger::~InMemoryLogger()
{
    m_stream.reset();
    Poco::Logger::destroy(kLoggerName);
}

Poco::LogStream& InMemoryLogger::getStream()
{
    return *m_stream;
}

void InMemoryLogger::lock()
{
    m_mutex.lock();
}

void InMemoryLogger::unlock()
{
    m_mutex.unlock();
}

std::list<Poco::Message> InMemoryLogger::getMessages() const
{
    return m_store->getMessages();
}

std::size_t InMemoryLogger::getDroppedCount() const
{
    return m_store->getDroppedCount();
}

void replayDelayedMessages(const InMemoryLogger& delayed, ILogger* target)
{
    if (target == nullptr)
        return;
    // The delayed logger keeps nothing below information, so every kept message is replayed.
    for (const Poco::Message& message : delayed.getMessages())
        logLine(target, message.getPriority(), message.getText());
    const std::size_t dropped = delayed.getDroppedCount();
    if (dropped > 0)
        logLine(target, Poco::Message::PRIO_WARNING,
                "ferrovan::replayDelayedMessages: " + std::to_string(dropped) + " later delayed messages were dropped");
}

} // namespace ferrovan
