#pragma once

namespace ferrovan {

// What the menu and the platform ask of the running application. Called on the UI thread.
class IApplicationControllerCallback {
public:
    virtual ~IApplicationControllerCallback() = default;
    virtual void checkForUpdates() = 0;
    // Asks the main window to close; the run's shutdown half follows once the loop has ended.
    virtual void closeApplication() = 0;
};

} // namespace ferrovan
