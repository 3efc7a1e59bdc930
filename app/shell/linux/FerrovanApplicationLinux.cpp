#include "shell/linux/FerrovanApplicationLinux.h"

#include "shell/AppRuntime.h"
#include "shell/Updater.h"

#include <utility>

namespace ferrovan {

FerrovanApplicationLinux::FerrovanApplicationLinux(const CommandLineArguments& arguments, std::string executablePath)
    : FerrovanApplicationBase(arguments, std::move(executablePath))
{
}

FerrovanApplicationLinux::~FerrovanApplicationLinux() = default;

void FerrovanApplicationLinux::checkForUpdates()
{
    if (m_updater)
        m_updater->checkForUpdatesWithUi();
}

std::unique_ptr<IAppRuntime> FerrovanApplicationLinux::createRuntime()
{
    return createAppRuntime(*this);
}

void FerrovanApplicationLinux::beforeMessageLoop()
{
    m_updater = std::make_unique<Updater>(bundleInfo());
    m_updater->startAutomaticChecks(*settings(), arguments());
}

void FerrovanApplicationLinux::afterMessageLoop()
{
    // Its boxes and its sources belong to the toolkit, which ends next; ending it also stops
    // its schedule and waits for a running check.
    m_updater.reset();
}

} // namespace ferrovan
