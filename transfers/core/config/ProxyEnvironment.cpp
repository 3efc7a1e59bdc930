#include "core/config/ProxyEnvironment.h"

#include <cstdlib>
#include <mutex>

namespace fv_transfers {

void preparePxConfigOrder()
{
    static std::once_flag once;
    // setenv copies into memory the C library keeps to the end; a putenv'd string that a static
    // frees at exit would leave the environment pointing at freed memory for later exit handlers.
    std::call_once(once, [] { ::setenv("PX_CONFIG_ORDER", "config_envvar", 1); });
}

} // namespace fv_transfers
