#pragma once

#include "core/SystemResourcesStatus.h"

#include <string>

namespace fv_transfers {

// "MemAvailable" of /proc/meminfo: free memory plus what the kernel can reclaim without
// swapping. Kernels without it fall back to sysinfo's free and buffer memory.
class CSystemResourceStatusLinux : public ISystemResourcesStatus {
public:
    explicit CSystemResourceStatusLinux(std::string meminfoPath = "/proc/meminfo");

    bool getAvailableMemory(std::uint64_t& bytes) override;

    // The "MemAvailable:" value of a meminfo text in bytes; false when absent or malformed.
    static bool parseMemAvailable(const std::string& meminfo, std::uint64_t& bytes);

private:
    std::string m_meminfoPath;
};

} // namespace fv_transfers
