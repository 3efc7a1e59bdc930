#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fv_test {

// A byte count as the command line and seed files give it: digits with an optional binary
// suffix K, M, G or T (either case, "KiB"/"KB" spellings too), so "64M" is 64 * 2^20.
// nullopt for anything else, or a count past 2^64.
std::optional<uint64_t> parseByteCount(const std::string& text);

} // namespace fv_test
