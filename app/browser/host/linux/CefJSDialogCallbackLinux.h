#pragma once

#include "browser/host/CefCallbacks.h"

#include <webkit2/webkit2.h>

namespace ferrovan {

// Answers one of the page's alerts or confirms; released unanswered, it dismisses it (a confirm
// then answers false), so the page never waits for good.
class CefJSDialogCallbackLinux : public fvcef::CefRefCounted<fvcef::CefJSDialogCallback> {
public:
    explicit CefJSDialogCallbackLinux(WebKitScriptDialog* dialog);
    CefJSDialogCallbackLinux(const CefJSDialogCallbackLinux&) = delete;
    CefJSDialogCallbackLinux& operator=(const CefJSDialogCallbackLinux&) = delete;

    // On the UI thread.
    void Continue(bool success, const fvcef::CefString& user_input) override;
    // The view answers the dialog itself after all: this callback lets go without answering.
    void release();

private:
    ~CefJSDialogCallbackLinux() override;

    WebKitScriptDialog* m_dialog; // owns a reference; null once answered
};

} // namespace ferrovan
