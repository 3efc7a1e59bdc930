#include "shell/Logger.h"

#include <mutex>
#include <ostream>

namespace ferrovan {

void logLine(ILogger* log, Poco::Message::Priority priority, const std::string& text)
{
    if (log == nullptr)
        return;
    std::lock_guard<ILogger> guard(*log);
    Poco::LogStream& stream = log->getStream();
    stream.priority(priority);
    stream << text << std::endl;
}

} // namespace ferrovan
