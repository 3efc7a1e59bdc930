#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefBrowserHost.h"
#include "browser/host/CefFrame.h"
#include "browser/host/CefRefPtr.h"

namespace fvcef {

// One browser view of a window.
class CefBrowser : public virtual CefBaseRefCounted {
public:
    virtual CefRefPtr<CefBrowserHost> GetHost() = 0;
    // Null once the page is gone (closing, or its process ended).
    virtual CefRefPtr<CefFrame> GetMainFrame() = 0;
    virtual int GetIdentifier() = 0;
    // Whether the page opened this browser itself; the program never lets it.
    virtual bool IsPopup() = 0;
    virtual bool IsSame(CefRefPtr<CefBrowser> that) = 0;
};

} // namespace fvcef
