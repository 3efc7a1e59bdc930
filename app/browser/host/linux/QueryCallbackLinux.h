#pragma once

#include "browser/host/CefMessageRouterBrowserSide.h"
#include "browser/host/linux/webext/BridgeProtocol.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace ferrovan {

class CefMessageRouterBrowserSideLinux;

// One query's way back to the page, shared by its callback and the router; it carries one
// answer only. UI thread only.
struct QueryReply {
    std::function<void(const bridge::ReplyMessage&)> send;
    bool done = false;

    void answerOnce(const bridge::ReplyMessage& reply)
    {
        if (done)
            return;
        done = true;
        send(reply);
    }
};

// The answer to one query. The first Success or Failure reaches the page and the router forgets
// the query; later ones, and any after the router dropped it, go nowhere. Released unanswered,
// it fails the query as cancelled. Answers from other threads move to the UI thread.
class QueryCallbackLinux : public fvcef::CefRefCounted<fvcef::CefMessageRouterBrowserSide::Callback> {
public:
    QueryCallbackLinux(fvcef::CefRefPtr<CefMessageRouterBrowserSideLinux> router, std::int64_t queryId,
                       std::shared_ptr<QueryReply> reply);
    QueryCallbackLinux(const QueryCallbackLinux&) = delete;
    QueryCallbackLinux& operator=(const QueryCallbackLinux&) = delete;

    void Success(const fvcef::CefString& response) override;
    void Failure(int error_code, const fvcef::CefString& error_message) override;

private:
    ~QueryCallbackLinux() override;

    void answer(const bridge::ReplyMessage& reply);

    fvcef::CefRefPtr<CefMessageRouterBrowserSideLinux> m_router;
    const std::int64_t m_queryId;
    std::shared_ptr<QueryReply> m_reply;
};

} // namespace ferrovan
