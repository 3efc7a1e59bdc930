#pragma once

#include <exception>
#include <string>

namespace ferrovan {

// The message of any exception for a log line. POCO's what() gives only the exception's
// name, so its full text is taken from displayText().
std::string exceptionText(const std::exception& e);

} // namespace ferrovan
