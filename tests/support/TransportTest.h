#pragma once

#include <string>

namespace fv_test {

// Sends this process's library log to a folder of its own (kept for the process's life) and
// sets libcurl up. Tests of the HTTP transport call it first.
void prepareTransportTest();

// Standard Base64, for expected Basic credentials.
std::string base64(const std::string& text);

} // namespace fv_test
