#pragma once

#include "shell/AppGlobalObjects.h"
#include "shell/BrowserSettings.h"
#include "shell/HandOffTarget.h"
#include "shell/NativeUiDataHolder.h"

#include <Poco/SharedPtr.h>

#include <functional>
#include <memory>

namespace ferrovan {

class AppExitFlags;
class AppSettings;
class IApplicationControllerCallback;

// What the application run hands the browser host.
struct BrowserHostContext {
    AppGlobalObjects globals;
    Poco::SharedPtr<AppSettings> settings;
    Poco::SharedPtr<AppExitFlags> exitFlags;
    IApplicationControllerCallback* application = nullptr; // borrowed
    BrowserSettings browserSettings;
    // Called once, when the main window first shows.
    std::function<void()> mainWindowShown;
};

// The main window with the web application in it, its menu, and what other programs hand over.
// Made once the toolkit runs, ended before the toolkit ends. UI thread only.
class IBrowserHost : public IHandOffTarget, public INativeUiDataHolder {
public:
    // Makes the main window and its browser; false, logged, when there is no window.
    virtual bool start() = 0;
    // Closes the main window as its close button does; the loop ends once the browser is gone.
    virtual void closeMainWindow() = 0;
};

using BrowserHostFactory = std::function<std::unique_ptr<IBrowserHost>(const BrowserHostContext&)>;

} // namespace ferrovan
