#pragma once

#include "browser/host/CefMessageRouterBrowserSide.h"
#include "browser/host/linux/QueryCallbackLinux.h"
#include "browser/host/linux/webext/BridgeProtocol.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace ferrovan {

// The one router of every bridge name. A query reaches a handler only from the web
// application's document: the main frame, of the web application's origin, which is also the
// origin of the view's current address; the page's process checked the same before it defined
// the functions, and this second check keeps a page process that does otherwise from reaching
// the handlers. Used on the UI thread.
class CefMessageRouterBrowserSideLinux : public fvcef::CefRefCounted<fvcef::CefMessageRouterBrowserSide> {
public:
    explicit CefMessageRouterBrowserSideLinux(const fvcef::CefMessageRouterConfig& config);
    CefMessageRouterBrowserSideLinux(const CefMessageRouterBrowserSideLinux&) = delete;
    CefMessageRouterBrowserSideLinux& operator=(const CefMessageRouterBrowserSideLinux&) = delete;

    bool AddHandler(const fvcef::CefString& bridge_name, Handler* handler) override;
    void OnBeforeClose(fvcef::CefRefPtr<fvcef::CefBrowser> browser) override;
    void OnRenderProcessTerminated(fvcef::CefRefPtr<fvcef::CefBrowser> browser) override;
    void OnBeforeBrowse(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame) override;
    bool OnProcessMessageReceived(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                                  fvcef::cef_process_id_t source_process,
                                  fvcef::CefRefPtr<fvcef::CefProcessMessage> message) override;

    // A query as the page's process sends it; `reply` gets its one answer. For the messages,
    // and for tests that send what a page process cannot.
    void receiveQuery(fvcef::CefRefPtr<fvcef::CefBrowser> browser, const bridge::QueryMessage& query,
                      std::function<void(const bridge::ReplyMessage&)> reply);
    std::size_t pendingCount() const { return m_pending.size(); }

    // The callback's: the query was answered.
    void forget(std::int64_t queryId);

private:
    struct Pending {
        fvcef::CefRefPtr<fvcef::CefBrowser> browser;
        std::uint64_t requestId;
        Handler* handler;
        std::shared_ptr<QueryReply> reply;
    };

    bool isAllowed(fvcef::CefRefPtr<fvcef::CefBrowser> browser, const bridge::QueryMessage& query) const;
    void cancel(fvcef::CefRefPtr<fvcef::CefBrowser> browser, std::uint64_t requestId);
    void dropPending(fvcef::CefRefPtr<fvcef::CefBrowser> browser);
    void drop(std::map<std::int64_t, Pending>::iterator entry);

    const std::string m_webAppUrl;
    std::map<std::string, Handler*> m_handlers; // not owned
    std::map<std::int64_t, Pending> m_pending;
};

} // namespace ferrovan
