#include "browser/host/linux/CefFrameLinux.h"

#include "shell/FerrovanLogger.h"

#include <strings.h>

namespace ferrovan {

bool isFileUrl(const std::string& url)
{
    return strncasecmp(url.c_str(), "file:", 5) == 0;
}

CefFrameLinux::CefFrameLinux(WebKitWebView* view) : m_view(view) {}

bool CefFrameLinux::IsMain()
{
    return true;
}

fvcef::CefString CefFrameLinux::GetURL()
{
    return m_view != nullptr ? webkit_web_view_get_uri(m_view) : "";
}

void CefFrameLinux::ExecuteJavaScript(const fvcef::CefString& code, const fvcef::CefString& script_url, int)
{
    if (m_view == nullptr)
        return;
    const std::string& source = script_url.ToString();
    webkit_web_view_evaluate_javascript(m_view, code.ToString().c_str(), static_cast<gssize>(code.ToString().size()),
                                        nullptr, source.empty() ? nullptr : source.c_str(), nullptr, nullptr, nullptr);
}

void CefFrameLinux::LoadURL(const fvcef::CefString& url)
{
    if (m_view == nullptr)
        return;
    if (isFileUrl(url)) {
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
                "ferrovan::CefFrameLinux::LoadURL: a local file is never loaded: " + url.ToString());
        return;
    }
    webkit_web_view_load_uri(m_view, url.ToString().c_str());
}

void CefFrameLinux::detach()
{
    m_view = nullptr;
}

} // namespace ferrovan
