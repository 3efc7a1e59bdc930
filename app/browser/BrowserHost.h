#pragma once

#include "shell/BrowserHost.h"

#include <memory>

namespace ferrovan {

// The program's browser host: the application menu's controller and the browser application
// object over the main window.
std::unique_ptr<IBrowserHost> createBrowserHost(const BrowserHostContext& context);

} // namespace ferrovan
