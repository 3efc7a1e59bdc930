#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ferrovan {

// A dotted version of decimal numbers ("4.1.10"), compared part by part as numbers, so that
// "4.1.10" is newer than "4.1.9" and "4.1" equals "4.1.0". Anything else ("4.1-beta", "")
// is not a version at all, so a feed cannot win with a label that merely sorts high.
class VersionNumber {
public:
    static std::optional<VersionNumber> parse(const std::string& text);

    // <0, 0 or >0, as this version is older than, equal to or newer than `other`.
    int compare(const VersionNumber& other) const;
    bool operator<(const VersionNumber& other) const { return compare(other) < 0; }
    bool operator==(const VersionNumber& other) const { return compare(other) == 0; }

private:
    // Each part without leading zeros ("" for zero), trailing zero parts dropped; kept as text
    // so that no length of digits can overflow.
    std::vector<std::string> m_parts;
};

} // namespace ferrovan
