#pragma once

#include "bridge/messages/MessageHandler.h"

#include <cstddef>
#include <list>

namespace ferrovan {
namespace messages {

// The process's message handlers, offered each message in the order they were added. It
// shares their ownership. Used on the UI thread only.
class MessageHandlerList {
public:
    static MessageHandlerList& getInstance();

    // Appends `handler`; null is left out.
    void addHandler(fvcef::CefRefPtr<IMessageHandler> handler);
    // Gives every handler the browser's context, once it exists.
    void setContext(const QueryHandlerContext& context);
    // True at the first handler that takes the message; false when none does.
    bool dispatchMessage(fvcef::CefRefPtr<fvcef::CefProcessMessage> message);
    void clear();
    std::size_t size() const { return m_handlers.size(); }

private:
    MessageHandlerList() = default;

    std::list<fvcef::CefRefPtr<IMessageHandler>> m_handlers;
};

} // namespace messages
} // namespace ferrovan
