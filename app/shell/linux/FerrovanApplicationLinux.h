#pragma once

#include "shell/FerrovanApplicationBase.h"

#include <memory>
#include <string>

namespace ferrovan {

class Updater;

// The Linux program: GTK under the run, with the updater beside the loop. The browser host and
// the hand-off to a running instance take their places in the slots as they arrive.
class FerrovanApplicationLinux : public FerrovanApplicationBase {
public:
    FerrovanApplicationLinux(const CommandLineArguments& arguments, std::string executablePath);
    ~FerrovanApplicationLinux() override;

    // The menu's "check for updates": always asks, whatever the automatic switches say.
    void checkForUpdates() override;

protected:
    std::unique_ptr<IAppRuntime> createRuntime() override;
    void createCefApp() override {}
    void beforeMessageLoop() override;
    void afterMessageLoop() override;

private:
    std::unique_ptr<Updater> m_updater;
};

} // namespace ferrovan
