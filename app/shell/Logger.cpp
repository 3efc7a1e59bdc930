#include "shell/Logger.h"

#include <ostream>

namespace ferrovan {

namespace {

class LoggerLock {
public:
    explicit LoggerLock(ILogger& log) : m_log(log) { m_log.lock(); }
    ~LoggerLock() { m_log.unlock(); }
    LoggerLock(const LoggerLock&) = delete;
    LoggerLock& operator=(const LoggerLock&) = delete;

private:
    ILogger& m_log;
};

} // namespace

void logLine(ILogger* log, Poco::Message::Priority priority, const std::string& text)
{
    if (log == nullptr)
        return;
    LoggerLock guard(*log);
    Poco::LogStream& stream = log->getStream();
    stream.priority(priority);
    stream << text << std::endl;
}

} // namespace ferrovan
