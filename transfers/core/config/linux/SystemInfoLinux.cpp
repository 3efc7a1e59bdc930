#include "core/config/SystemInfo.h"

#include <sys/utsname.h>

namespace fv_transfers {

CSystemInfo::KernelNames CSystemInfo::readKernelNames()
{
    KernelNames kernel;
    struct utsname names {};
    if (::uname(&names) != 0)
        return kernel;
    kernel.versionText = std::string("Linux ") + names.release;
    kernel.productName = std::string(names.sysname) + " " + names.release;
    return kernel;
}

} // namespace fv_transfers
