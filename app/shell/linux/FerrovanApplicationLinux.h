#pragma once

#include "shell/FerrovanApplicationBase.h"

namespace ferrovan {

// The Linux program: GTK under the run. The browser host, the updater and the hand-off to a
// running instance take their places in the slots as they arrive.
class FerrovanApplicationLinux : public FerrovanApplicationBase {
public:
    using FerrovanApplicationBase::FerrovanApplicationBase;

protected:
    std::unique_ptr<IAppRuntime> createRuntime() override;
    void createCefApp() override {}
    void beforeMessageLoop() override {}
    void afterMessageLoop() override {}
};

} // namespace ferrovan
