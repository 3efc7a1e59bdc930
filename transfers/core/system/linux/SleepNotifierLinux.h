#pragma once

#include "core/system/ServiceWindow.h"
#include "core/system/SleepNotifier.h"

#include <memory>

namespace fv_transfers {

// Turns the service window's power modes into going-to-sleep (true) and woke-up (false),
// raised on the window's event thread.
class CSleepNotifierLinux : public ISleepNotifier {
public:
    // Uses the process's service window; throws CServiceWindow::CNotInitializedException without one.
    CSleepNotifierLinux();
    explicit CSleepNotifierLinux(std::shared_ptr<CServiceWindow> window);
    ~CSleepNotifierLinux() override;
    CSleepNotifierLinux(const CSleepNotifierLinux&) = delete;
    CSleepNotifierLinux& operator=(const CSleepNotifierLinux&) = delete;

private:
    void onPowerModeChange(const CServiceWindow::PowerModeChangeData& data);

    std::shared_ptr<CServiceWindow> m_window;
};

} // namespace fv_transfers
