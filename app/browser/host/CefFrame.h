#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefString.h"

namespace fvcef {

// A document of a browser: the main frame or one of its sub-frames.
class CefFrame : public virtual CefBaseRefCounted {
public:
    virtual bool IsMain() = 0;
    virtual CefString GetURL() = 0;
    // Runs `code` in the frame's page later, on its own; `script_url` and `start_line` name the
    // source in the page's error messages.
    virtual void ExecuteJavaScript(const CefString& code, const CefString& script_url, int start_line) = 0;
    // Navigates the frame to `url`.
    virtual void LoadURL(const CefString& url) = 0;
};

} // namespace fvcef
