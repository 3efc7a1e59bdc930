#include "core/system/linux/SleepNotifierLinux.h"

#include <Poco/Delegate.h>

namespace fv_transfers {

CSleepNotifierLinux::CSleepNotifierLinux() : CSleepNotifierLinux(CServiceWindow::getInstance()) {}

CSleepNotifierLinux::CSleepNotifierLinux(std::shared_ptr<CServiceWindow> window) : m_window(std::move(window))
{
    m_window->powerEvent += Poco::delegate(this, &CSleepNotifierLinux::onPowerModeChange);
}

CSleepNotifierLinux::~CSleepNotifierLinux()
{
    // Waits for a delivery in progress, so none reaches this object afterwards.
    m_window->powerEvent -= Poco::delegate(this, &CSleepNotifierLinux::onPowerModeChange);
}

void CSleepNotifierLinux::onPowerModeChange(const CServiceWindow::PowerModeChangeData& data)
{
    bool goingToSleep = false;
    if (data.powerMode == CServiceWindow::kPowerModeSuspending)
        goingToSleep = true;
    else if (data.powerMode != CServiceWindow::kPowerModeResumed)
        return;
    sleepEvent.notify(this, goingToSleep);
}

} // namespace fv_transfers
