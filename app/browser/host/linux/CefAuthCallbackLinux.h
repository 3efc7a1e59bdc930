#pragma once

#include "browser/host/CefCallbacks.h"

#include <webkit2/webkit2.h>

namespace ferrovan {

// Answers one of the view's credential requests; released unanswered, it cancels it, so no
// request is left waiting.
class CefAuthCallbackLinux : public fvcef::CefRefCounted<fvcef::CefAuthCallback> {
public:
    explicit CefAuthCallbackLinux(WebKitAuthenticationRequest* request);
    CefAuthCallbackLinux(const CefAuthCallbackLinux&) = delete;
    CefAuthCallbackLinux& operator=(const CefAuthCallbackLinux&) = delete;

    // On the UI thread, as every call here.
    void Continue(const fvcef::CefString& username, const fvcef::CefString& password) override;
    void Cancel() override;

private:
    ~CefAuthCallbackLinux() override;

    WebKitAuthenticationRequest* m_request; // owns a reference; null once answered
};

} // namespace ferrovan
