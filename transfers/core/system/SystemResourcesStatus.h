#pragma once

#include <cstdint>

namespace fv_transfers {

// The machine's free physical memory, for sizing the transfer buffer pools.
class ISystemResourcesStatus {
public:
    virtual ~ISystemResourcesStatus() = default;
    // False when it cannot be told; the caller then uses its fixed pool size.
    virtual bool getAvailableMemory(std::uint64_t& bytes) = 0;
};

} // namespace fv_transfers
