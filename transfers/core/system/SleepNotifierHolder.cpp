#include "core/system/SleepNotifierHolder.h"

#include "core/base/SharedInstanceSlot.h"
#include "core/system/linux/SleepNotifierLinux.h"

namespace fv_transfers {

namespace {

CSharedInstanceSlot<ISleepNotifier>& holder()
{
    static CSharedInstanceSlot<ISleepNotifier> slot;
    return slot;
}

} // namespace

std::shared_ptr<ISleepNotifier> CSleepNotifierHolder::getInstance()
{
    return holder().getOrCreate([] { return std::make_shared<CSleepNotifierLinux>(); });
}

void CSleepNotifierHolder::destroyInstance()
{
    holder().take();
}

} // namespace fv_transfers
