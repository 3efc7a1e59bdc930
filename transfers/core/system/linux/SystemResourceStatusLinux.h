#pragma once

#include "core/system/SystemResourcesStatus.h"

#include <string>

namespace fv_transfers {

// "MemAvailable" of /proc/meminfo: free memory plus what the kernel can reclaim without
// swapping; kernels without it fall back to sysinfo's free and buffer memory. A memory limit of
// the process's control group (a container, a systemd slice) caps the answer: the machine's free
// memory is of no use beyond it.
class CSystemResourceStatusLinux : public ISystemResourcesStatus {
public:
    explicit CSystemResourceStatusLinux(std::string meminfoPath = "/proc/meminfo",
                                        std::string procCgroupPath = "/proc/self/cgroup",
                                        std::string cgroupMount = "/sys/fs/cgroup");

    bool getAvailableMemory(std::uint64_t& bytes) override;

    // The "MemAvailable:" value of a meminfo text in bytes; false when absent or malformed.
    static bool parseMemAvailable(const std::string& meminfo, std::uint64_t& bytes);

private:
    // What the limits of the process's group and of its parents still allow; false when unlimited.
    bool cgroupHeadroom(std::uint64_t& bytes) const;

    std::string m_meminfoPath;
    std::string m_procCgroupPath;
    std::string m_cgroupMount;
};

} // namespace fv_transfers
