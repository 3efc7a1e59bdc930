#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefBrowser.h"
#include "browser/host/CefFrame.h"
#include "browser/host/CefProcessMessage.h"
#include "browser/host/CefRefPtr.h"
#include "browser/host/CefString.h"

#include <cstdint>

namespace fvcef {

struct CefMessageRouterConfig {
    // Only documents of this address's origin (scheme, host, port) may query.
    CefString web_app_url;
};

// The browser side of the page's query functions: one router serves every bridge name; each
// query reaches the Handler added under its bridge's name, which answers it once through its
// Callback. Used on the UI thread; a Callback may be answered from any thread.
class CefMessageRouterBrowserSide : public virtual CefBaseRefCounted {
public:
    // The answer to one query; the first Success or Failure is delivered, later ones are not.
    class Callback : public virtual CefBaseRefCounted {
    public:
        virtual void Success(const CefString& response) = 0;
        virtual void Failure(int error_code, const CefString& error_message) = 0;
    };

    class Handler {
    public:
        virtual ~Handler() = default;
        // True when the handler took the query (it answers through `callback`, now or later);
        // false declines it and the router fails the query with its cancel reply.
        virtual bool OnQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, std::int64_t query_id,
                             const CefString& request, bool persistent, CefRefPtr<Callback> callback)
        {
            (void)browser, (void)frame, (void)query_id, (void)request, (void)persistent, (void)callback;
            return false;
        }
        virtual void OnQueryCanceled(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, std::int64_t query_id)
        {
            (void)browser, (void)frame, (void)query_id;
        }
    };

    static CefRefPtr<CefMessageRouterBrowserSide> Create(const CefMessageRouterConfig& config);

    // Queries sent through the page's function `bridge_name` go to `handler`, which is not
    // owned and must outlive the router's OnBeforeClose. False when the name has one already.
    virtual bool AddHandler(const CefString& bridge_name, Handler* handler) = 0;

    // The browser's pending queries are dropped: their handlers get OnQueryCanceled and later
    // answers go nowhere.
    virtual void OnBeforeClose(CefRefPtr<CefBrowser> browser) = 0;
    virtual void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser) = 0;
    // A navigation is about to start; the queries end only once the new document replaced the
    // old one, which the page's process tells the router.
    virtual void OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame) = 0;
    // True when `message` was one of the router's own (a query, a cancel, a new document).
    virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                          cef_process_id_t source_process, CefRefPtr<CefProcessMessage> message) = 0;
};

} // namespace fvcef
