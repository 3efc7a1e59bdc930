#pragma once

#include "shell/ApplicationControllerCallback.h"
#include "shell/BrowserSettings.h"

#include <memory>

namespace ferrovan {

// The toolkit under the application run: its start, its message loop and its end. Every call is
// made on the thread that called initialize, which becomes the UI thread.
class IAppRuntime {
public:
    virtual ~IAppRuntime() = default;
    // The exit code of a helper process this start turned out to be, or -1 in the program itself.
    virtual int executeProcess() = 0;
    // False when the toolkit cannot start (no display): then no loop may run.
    virtual bool initialize(const BrowserSettings& settings) = 0;
    // Returns once the main window has closed; at once when there is none.
    virtual void runMessageLoop() = 0;
    // Asks the main window to close, which ends the loop.
    virtual void quit() = 0;
    // Releases what initialize made; also safe when initialize failed or never ran.
    virtual void shutdown() = 0;
};

// The platform's runtime. Stop requests from outside (SIGTERM, SIGINT) reach `controller`'s
// closeApplication, so a stopped program still runs the shutdown half of the run.
std::unique_ptr<IAppRuntime> createAppRuntime(IApplicationControllerCallback& controller);

} // namespace ferrovan
