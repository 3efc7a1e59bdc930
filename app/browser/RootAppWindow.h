#pragma once

#include "browser/WindowPlacement.h"
#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefBrowser.h"
#include "browser/host/CefClient.h"
#include "browser/host/CefRefPtr.h"
#include "shell/BrowserSettings.h"
#include "shell/NativeUiDataHolder.h"

#include <string>
#include <vector>

namespace ferrovan {

class IApplicationMenuCallback;

struct RootWindowConfig {
    // The saved normal frame; `maximized` is applied when the window is first shown.
    ScreenRect bounds;
    bool maximized = false;
    // The menu bar's items go here; borrowed, outlives the window. Null: no menu bar.
    IApplicationMenuCallback* menuCallback = nullptr;
    // What the browser view's web context is built from.
    BrowserSettings browserSettings;
    // The page functions the web application's main document gets, and its address.
    std::vector<std::string> bridgeNames;
    std::string webAppUrl;
    // The local pages' folder (the resources folder).
    std::string resourcesDirectory;
    // Empty: the page processes' extension of this build or installation.
    std::string extensionsDirectory;
};

// The program's main window: the menu bar on top, the one browser view filling the rest, titled
// "Ferrovan". It stays hidden until activate(). Closing it closes its browser first (the client's
// DoClose decides); the window goes with the browser. UI thread only.
class RootAppWindow : public virtual fvcef::CefBaseRefCounted, public INativeUiDataHolder {
public:
    // Makes the browser view in the window and starts loading `url`; the client's
    // OnAfterCreated runs before this returns. One view per window: a second call gives null.
    virtual fvcef::CefRefPtr<fvcef::CefBrowser> addBrowserView(fvcef::CefRefPtr<fvcef::CefClient> client,
                                                               const std::string& url) = 0;
    // Shows the window (maximised when the saved placement says so) and brings it forward.
    virtual void activate() = 0;
    // Brings the shown window forward only.
    virtual void bringToFront() = 0;
    // Asks the window to close as the user's close button does.
    virtual void close() = 0;
};

// Null when the toolkit cannot make the window; the reason is logged.
fvcef::CefRefPtr<RootAppWindow> createRootAppWindow(const RootWindowConfig& config);

// The work areas of the connected displays, for checkWindowPlacement; empty when none is known.
std::vector<ScreenRect> getDisplayWorkAreas();

} // namespace ferrovan
