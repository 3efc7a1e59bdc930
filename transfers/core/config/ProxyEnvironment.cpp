#include "core/config/ProxyEnvironment.h"

#include <Poco/Environment.h>

#include <mutex>

namespace fv_transfers {

void preparePxConfigOrder()
{
    static std::once_flag once;
    std::call_once(once, [] { Poco::Environment::set("PX_CONFIG_ORDER", "config_envvar"); });
}

} // namespace fv_transfers
