#pragma once

#include <string>

namespace ferrovan {

// `text` with every control character replaced by '?': text a page or a user handed over
// cannot start a line of its own in the log.
std::string printableForLog(std::string text);

// An address as a log line may show it: printable, and with the query values and credentials
// that signed addresses carry masked.
std::string urlForLog(const std::string& url);

} // namespace ferrovan
