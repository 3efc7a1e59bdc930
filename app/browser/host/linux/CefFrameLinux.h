#pragma once

#include "browser/host/CefFrame.h"

#include <webkit2/webkit2.h>

namespace ferrovan {

// The main frame of a view; inert once its browser closed.
class CefFrameLinux : public fvcef::CefRefCounted<fvcef::CefFrame> {
public:
    explicit CefFrameLinux(WebKitWebView* view);
    CefFrameLinux(const CefFrameLinux&) = delete;
    CefFrameLinux& operator=(const CefFrameLinux&) = delete;

    bool IsMain() override;
    fvcef::CefString GetURL() override;
    void ExecuteJavaScript(const fvcef::CefString& code, const fvcef::CefString& script_url, int start_line) override;
    // "file:" addresses are refused (logged): local pages come through the local scheme.
    void LoadURL(const fvcef::CefString& url) override;

    // The browser's view is gone.
    void detach();

private:
    WebKitWebView* m_view; // not owned; null once detached
};

// Whether `url` names a local file, which the view never loads.
bool isFileUrl(const std::string& url);

} // namespace ferrovan
