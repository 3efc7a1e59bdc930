#include "bridge/messages/MessageHandlerList.h"

namespace ferrovan {
namespace messages {

MessageHandlerList& MessageHandlerList::getInstance()
{
    static MessageHandlerList list;
    return list;
}

void MessageHandlerList::addHandler(fvcef::CefRefPtr<IMessageHandler> handler)
{
    if (handler)
        m_handlers.push_back(std::move(handler));
}

void MessageHandlerList::setContext(const QueryHandlerContext& context)
{
    for (const auto& handler : m_handlers)
        handler->setContext(context);
}

bool MessageHandlerList::dispatchMessage(fvcef::CefRefPtr<fvcef::CefProcessMessage> message)
{
    // A copy: a handler may clear the list while it handles the message.
    const std::list<fvcef::CefRefPtr<IMessageHandler>> handlers = m_handlers;
    for (const auto& handler : handlers)
        if (handler->handleMessage(message))
            return true;
    return false;
}

void MessageHandlerList::clear()
{
    // Emptied first: a handler's destructor that reaches the list finds it consistent.
    std::list<fvcef::CefRefPtr<IMessageHandler>> released;
    released.swap(m_handlers);
}

} // namespace messages
} // namespace ferrovan
