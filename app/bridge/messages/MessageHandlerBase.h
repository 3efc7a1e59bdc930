#pragma once

#include "bridge/messages/MessageHandler.h"

#include <functional>
#include <map>
#include <string>

namespace ferrovan {
namespace messages {

// The base of every process-message handler: a message runs the function registered under its
// name; a name without one is not taken.
class CMessageHandlerBase : public fvcef::CefRefCounted<IMessageHandler> {
public:
    using Method = std::function<bool(fvcef::CefRefPtr<fvcef::CefProcessMessage>)>;

    CMessageHandlerBase(const CMessageHandlerBase&) = delete;
    CMessageHandlerBase& operator=(const CMessageHandlerBase&) = delete;

    bool handleMessage(fvcef::CefRefPtr<fvcef::CefProcessMessage> message) override;
    void setContext(const QueryHandlerContext& context) override;

protected:
    CMessageHandlerBase() = default;
    ~CMessageHandlerBase() override = default;

    // Enters or replaces `name`; for constructors.
    void registerMethod(const std::string& name, Method method);
    template <class Handler>
    void registerMethod(const std::string& name, bool (Handler::*method)(fvcef::CefRefPtr<fvcef::CefProcessMessage>))
    {
        auto* self = static_cast<Handler*>(this);
        registerMethod(name, [self, method](fvcef::CefRefPtr<fvcef::CefProcessMessage> message) {
            return (self->*method)(std::move(message));
        });
    }

private:
    std::map<std::string, Method> m_methods;
};

} // namespace messages
} // namespace ferrovan
