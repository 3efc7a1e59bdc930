#include "bridge/BridgeLog.h"

#include "shell/FerrovanLogger.h"

namespace ferrovan {

void logBridgeInformation(const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_INFORMATION, text);
}

void logBridgeWarning(const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_WARNING, text);
}

void logBridgeError(const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR, text);
}

} // namespace ferrovan
