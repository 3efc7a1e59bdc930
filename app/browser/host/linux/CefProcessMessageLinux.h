#pragma once

#include "browser/host/CefProcessMessage.h"

#include <webkit2/webkit2.h>

namespace ferrovan {

// A message the page's process sent to the view; it may be answered once.
class CefProcessMessageLinux : public fvcef::CefRefCounted<fvcef::CefProcessMessage> {
public:
    explicit CefProcessMessageLinux(WebKitUserMessage* message);
    CefProcessMessageLinux(const CefProcessMessageLinux&) = delete;
    CefProcessMessageLinux& operator=(const CefProcessMessageLinux&) = delete;

    fvcef::CefString GetName() override;
    // Borrowed; null when the message has none.
    GVariant* parameters() const;
    // Sends `parameters` (a floating reference, taken) back under `name`; later calls do nothing.
    void reply(const char* name, GVariant* parameters);

private:
    ~CefProcessMessageLinux() override;

    WebKitUserMessage* m_message; // owns a reference
    bool m_replied = false;
};

} // namespace ferrovan
