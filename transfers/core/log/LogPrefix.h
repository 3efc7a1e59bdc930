#pragma once

#include <cstdint>
#include <string>

namespace fv_transfers {

// The bracketed prefix of the log lines of groups and channels: "[Group[3]: abc: 2] ".
class CLogPrefix {
public:
    CLogPrefix() = default;
    CLogPrefix(const std::string& name, std::int32_t id, const std::string& detail);

    std::string toString() const;

    std::string name;
    std::int32_t id = 0;
    std::string detail;
    std::int32_t subId = -1; // -1: none
};

} // namespace fv_transfers
