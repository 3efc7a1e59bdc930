#pragma once

#include "browser/host/CefBaseRefCounted.h"

namespace fvcef {

// The browser's hold on its window.
class CefBrowserHost : public virtual CefBaseRefCounted {
public:
    // Closes the browser and its window. Without `force_close` the page may keep itself open
    // (its beforeunload handler); with it the page is not asked.
    virtual void CloseBrowser(bool force_close) = 0;
    // The toolkit's window the browser lives in, opaque to portable code; null once closed.
    virtual void* GetWindowHandle() = 0;
};

} // namespace fvcef
