#include "shell/linux/PlatformInitLinux.h"

namespace ferrovan {

// GTK registers its own widgets when the runtime starts it (gtk_init_check), and a failure
// there is reported by the runtime; nothing has to be prepared before that.
bool CPlatformInitLinux::init()
{
    return true;
}

std::unique_ptr<IPlatformInit> createPlatformInit()
{
    return std::make_unique<CPlatformInitLinux>();
}

} // namespace ferrovan
