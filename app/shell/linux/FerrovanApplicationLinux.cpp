#include "shell/linux/FerrovanApplicationLinux.h"

#include "shell/AppRuntime.h"

namespace ferrovan {

std::unique_ptr<IAppRuntime> FerrovanApplicationLinux::createRuntime()
{
    return createAppRuntime(*this);
}

} // namespace ferrovan
