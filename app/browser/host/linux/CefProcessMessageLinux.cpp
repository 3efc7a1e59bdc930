#include "browser/host/linux/CefProcessMessageLinux.h"

namespace ferrovan {

CefProcessMessageLinux::CefProcessMessageLinux(WebKitUserMessage* message)
    : m_message(WEBKIT_USER_MESSAGE(g_object_ref(message)))
{
}

CefProcessMessageLinux::~CefProcessMessageLinux()
{
    // Unanswered, WebKit answers the sender with its not-handled error.
    g_object_unref(m_message);
}

fvcef::CefString CefProcessMessageLinux::GetName()
{
    return webkit_user_message_get_name(m_message);
}

GVariant* CefProcessMessageLinux::parameters() const
{
    return webkit_user_message_get_parameters(m_message);
}

void CefProcessMessageLinux::reply(const char* name, GVariant* parameters)
{
    if (m_replied) {
        g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    m_replied = true;
    webkit_user_message_send_reply(m_message, webkit_user_message_new(name, parameters));
}

} // namespace ferrovan
