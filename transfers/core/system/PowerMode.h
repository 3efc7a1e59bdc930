#pragma once

#include <cstdint>

namespace fv_transfers {

// What the service window reports of the machine's sleep.
constexpr std::uint32_t kPowerModeSuspending = 1;
constexpr std::uint32_t kPowerModeResumed = 2;

struct PowerModeChangeData {
    std::uint32_t powerMode;
};

} // namespace fv_transfers
