#include "shell/ExceptionText.h"

#include "shell/FerrovanLogger.h"

#include <Poco/Exception.h>

namespace ferrovan {

std::string exceptionText(const std::exception& e)
{
    if (const auto* poco = dynamic_cast<const Poco::Exception*>(&e))
        return poco->displayText();
    return e.what();
}

void logEscapedException(const char* function, const std::string& text) noexcept
{
    try {
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
                std::string(function) + ": Exception caught: " + text);
    } catch (...) {
        // Nothing is left to tell it to; the callback still must not throw.
    }
}

} // namespace ferrovan
