#include "browser/host/linux/QueryCallbackLinux.h"

#include "browser/host/CefTask.h"
#include "browser/host/linux/CefMessageRouterBrowserSideLinux.h"

#include <utility>

namespace ferrovan {

namespace {

void finish(CefMessageRouterBrowserSideLinux& router, std::int64_t queryId, QueryReply& reply,
            const bridge::ReplyMessage& answer)
{
    router.forget(queryId);
    reply.answerOnce(answer);
}

} // namespace

QueryCallbackLinux::QueryCallbackLinux(fvcef::CefRefPtr<CefMessageRouterBrowserSideLinux> router, std::int64_t queryId,
                                       std::shared_ptr<QueryReply> reply)
    : m_router(std::move(router)), m_queryId(queryId), m_reply(std::move(reply))
{
}

QueryCallbackLinux::~QueryCallbackLinux()
{
    answer({bridge::ReplyKind::Failure, bridge::kFailureCode, bridge::kCanceledText});
}

void QueryCallbackLinux::Success(const fvcef::CefString& response)
{
    answer({bridge::ReplyKind::Success, 0, response.ToString()});
}

void QueryCallbackLinux::Failure(int error_code, const fvcef::CefString& error_message)
{
    answer({bridge::ReplyKind::Failure, error_code, error_message.ToString()});
}

void QueryCallbackLinux::answer(const bridge::ReplyMessage& reply)
{
    if (fvcef::CefCurrentlyOn(fvcef::TID_UI)) {
        finish(*m_router, m_queryId, *m_reply, reply);
        return;
    }
    // The answers keep their order: each is one task, posted in turn.
    fvcef::CefPostTask(fvcef::TID_UI, [router = m_router, queryId = m_queryId, shared = m_reply, reply] {
        if (!shared->done)
            finish(*router, queryId, *shared, reply);
    });
}

} // namespace ferrovan
