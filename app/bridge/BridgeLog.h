#pragma once

#include <string>

namespace ferrovan {

// One line of the program's log from a bridge; nothing when the log is not up. Text a page
// handed over goes through printableForLog first, secrets never.
void logBridgeInformation(const std::string& text);
void logBridgeWarning(const std::string& text);
void logBridgeError(const std::string& text);

} // namespace ferrovan
