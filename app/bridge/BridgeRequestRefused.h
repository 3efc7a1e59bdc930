#pragma once

#include <stdexcept>
#include <string>

namespace ferrovan {

// A request the program will not carry out; the page receives the message as it stands, so
// it can tell the user why.
class CBridgeRequestRefused : public std::runtime_error {
public:
    explicit CBridgeRequestRefused(const std::string& message) : std::runtime_error(message) {}
};

} // namespace ferrovan
