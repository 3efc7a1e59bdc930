#include "bridge/messages/MessageHandlerBase.h"

namespace ferrovan {
namespace messages {

bool CMessageHandlerBase::handleMessage(fvcef::CefRefPtr<fvcef::CefProcessMessage> message)
{
    if (!message)
        return false;
    const auto entry = m_methods.find(message->GetName().ToString());
    if (entry == m_methods.end() || !entry->second)
        return false;
    return entry->second(std::move(message));
}

void CMessageHandlerBase::setContext(const QueryHandlerContext&) {}

void CMessageHandlerBase::registerMethod(const std::string& name, Method method)
{
    m_methods[name] = std::move(method);
}

} // namespace messages
} // namespace ferrovan
