#include "browser/host/linux/CefAuthCallbackLinux.h"

#include <utility>

namespace ferrovan {

CefAuthCallbackLinux::CefAuthCallbackLinux(WebKitAuthenticationRequest* request)
    : m_request(WEBKIT_AUTHENTICATION_REQUEST(g_object_ref(request)))
{
}

CefAuthCallbackLinux::~CefAuthCallbackLinux()
{
    Cancel();
}

void CefAuthCallbackLinux::Continue(const fvcef::CefString& username, const fvcef::CefString& password)
{
    WebKitAuthenticationRequest* request = std::exchange(m_request, nullptr);
    if (request == nullptr)
        return;
    WebKitCredential* credential = webkit_credential_new(username.ToString().c_str(), password.ToString().c_str(),
                                                         WEBKIT_CREDENTIAL_PERSISTENCE_NONE);
    webkit_authentication_request_authenticate(request, credential);
    webkit_credential_free(credential);
    g_object_unref(request);
}

void CefAuthCallbackLinux::Cancel()
{
    WebKitAuthenticationRequest* request = std::exchange(m_request, nullptr);
    if (request == nullptr)
        return;
    webkit_authentication_request_cancel(request);
    g_object_unref(request);
}

} // namespace ferrovan
