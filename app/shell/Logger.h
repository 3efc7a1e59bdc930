#pragma once

#include <Poco/LogStream.h>
#include <Poco/Message.h>

#include <string>

namespace ferrovan {

// A log the main program writes lines to: the file log, or the delayed one kept in memory
// until the file's path is known. A line is written whole between lock() and unlock().
class ILogger {
public:
    virtual ~ILogger() = default;
    virtual Poco::LogStream& getStream() = 0;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

// Writes one line at `priority` under the logger's lock; nothing when `log` is null.
void logLine(ILogger* log, Poco::Message::Priority priority, const std::string& text);

} // namespace ferrovan
