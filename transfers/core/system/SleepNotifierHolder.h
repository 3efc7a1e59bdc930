#pragma once

#include "core/system/SleepNotifier.h"

#include <memory>

namespace fv_transfers {

// The process-wide sleep notifier. Holders keep it alive, so the library's shut-down may drop
// it while a late subscriber still removes its delegate.
class CSleepNotifierHolder {
public:
    // A share of the running library's notifier, made on first use; throws
    // CServiceWindow::CNotInitializedException when the library was not started.
    static std::shared_ptr<ISleepNotifier> getInstance();
    // Forgets the process's notifier (the runtime's end); the next getInstance makes a new one.
    static void destroyInstance();
};

} // namespace fv_transfers
