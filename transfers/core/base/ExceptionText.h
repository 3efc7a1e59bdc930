#pragma once

#include <exception>
#include <string>

namespace fv_transfers {

// The message of an exception for a log line; POCO's what() gives only the class name.
std::string exceptionText(const std::exception& e);

} // namespace fv_transfers
