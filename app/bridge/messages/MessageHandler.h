#pragma once

#include "bridge/QueryHandlerContext.h"
#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefProcessMessage.h"
#include "browser/host/CefRefPtr.h"

namespace ferrovan {
namespace messages {

// Takes process messages from the page's process that no query router took. Used on the UI
// thread only.
class IMessageHandler : public virtual fvcef::CefBaseRefCounted {
public:
    // True when the handler took the message.
    virtual bool handleMessage(fvcef::CefRefPtr<fvcef::CefProcessMessage> message) = 0;
    virtual void setContext(const QueryHandlerContext& context) = 0;
};

} // namespace messages
} // namespace ferrovan
