#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefFrame.h"
#include "browser/host/CefRefPtr.h"

namespace fvcef {

// One browser view of a window.
class CefBrowser : public virtual CefBaseRefCounted {
public:
    // Null once the page is gone (closing, or its process ended).
    virtual CefRefPtr<CefFrame> GetMainFrame() = 0;
    virtual int GetIdentifier() = 0;
};

} // namespace fvcef
