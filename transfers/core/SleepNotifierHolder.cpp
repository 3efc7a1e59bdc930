#include "core/SleepNotifierHolder.h"

#include "core/linux/SleepNotifierLinux.h"

#include <mutex>

namespace fv_transfers {

namespace {

std::mutex& holderLock()
{
    static std::mutex lock;
    return lock;
}

std::shared_ptr<ISleepNotifier>& holder()
{
    static std::shared_ptr<ISleepNotifier> instance;
    return instance;
}

} // namespace

std::shared_ptr<ISleepNotifier> CSleepNotifierHolder::getInstance()
{
    std::lock_guard<std::mutex> lock(holderLock());
    if (!holder())
        holder() = std::make_shared<CSleepNotifierLinux>();
    return holder();
}

void CSleepNotifierHolder::destroyInstance()
{
    std::shared_ptr<ISleepNotifier> notifier;
    {
        std::lock_guard<std::mutex> lock(holderLock());
        notifier.swap(holder());
    }
}

} // namespace fv_transfers
