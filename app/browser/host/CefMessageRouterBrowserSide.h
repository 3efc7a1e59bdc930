#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefBrowser.h"
#include "browser/host/CefFrame.h"
#include "browser/host/CefRefPtr.h"
#include "browser/host/CefString.h"

#include <cstdint>

namespace fvcef {

// The browser side of the page's query functions: each query reaches a Handler, which answers
// it once through its Callback.
class CefMessageRouterBrowserSide {
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
};

} // namespace fvcef
