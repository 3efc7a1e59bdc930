#include "browser/host/linux/CefMessageRouterBrowserSideLinux.h"

#include "browser/host/linux/CefProcessMessageLinux.h"
#include "shell/FerrovanLogger.h"
#include "shell/UiTaskQueue.h"

#include <atomic>
#include <vector>

namespace fvcef {

CefRefPtr<CefMessageRouterBrowserSide> CefMessageRouterBrowserSide::Create(const CefMessageRouterConfig& config)
{
    return new ferrovan::CefMessageRouterBrowserSideLinux(config);
}

} // namespace fvcef

namespace ferrovan {

namespace {

constexpr const char* kReceiveQuery = "ferrovan::CefMessageRouterBrowserSideLinux::receiveQuery";

std::int64_t nextQueryId()
{
    static std::atomic<std::int64_t> last{0};
    return ++last;
}

void logRouterLine(const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR, std::string(kReceiveQuery) + ": " + text);
}

bridge::ReplyMessage failure(const char* text)
{
    return {bridge::ReplyKind::Failure, bridge::kFailureCode, text};
}

} // namespace

CefMessageRouterBrowserSideLinux::CefMessageRouterBrowserSideLinux(const fvcef::CefMessageRouterConfig& config)
    : m_webAppUrl(config.web_app_url.ToString())
{
}

bool CefMessageRouterBrowserSideLinux::AddHandler(const fvcef::CefString& bridge_name, Handler* handler)
{
    if (handler == nullptr || bridge_name.empty())
        return false;
    return m_handlers.emplace(bridge_name.ToString(), handler).second;
}

void CefMessageRouterBrowserSideLinux::OnBeforeClose(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    dropPending(browser);
}

void CefMessageRouterBrowserSideLinux::OnRenderProcessTerminated(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    dropPending(browser);
}

// WebKit asks about sub-frames' navigations as about the main frame's, and a navigation may
// still be refused later (a download): the queries end when the page process reports the new
// main document instead.
void CefMessageRouterBrowserSideLinux::OnBeforeBrowse(fvcef::CefRefPtr<fvcef::CefBrowser>,
                                                      fvcef::CefRefPtr<fvcef::CefFrame>)
{
}

bool CefMessageRouterBrowserSideLinux::OnProcessMessageReceived(fvcef::CefRefPtr<fvcef::CefBrowser> browser,
                                                                fvcef::CefRefPtr<fvcef::CefFrame>,
                                                                fvcef::cef_process_id_t,
                                                                fvcef::CefRefPtr<fvcef::CefProcessMessage> message)
{
    auto* received = dynamic_cast<CefProcessMessageLinux*>(message.get());
    if (!browser || received == nullptr)
        return false;
    const std::string name = received->GetName();
    if (name == bridge::kQueryMessage) {
        bridge::QueryMessage query;
        if (!bridge::fromVariant(received->parameters(), query))
            return false;
        fvcef::CefRefPtr<CefProcessMessageLinux> answered(received);
        receiveQuery(browser, query, [answered](const bridge::ReplyMessage& reply) {
            answered->reply(bridge::kReplyMessage, bridge::toVariant(reply));
        });
        return true;
    }
    if (name == bridge::kDocumentMessage) {
        dropPending(browser);
        received->reply(bridge::kReplyMessage, bridge::toVariant(bridge::ReplyMessage{}));
        return true;
    }
    if (name == bridge::kCancelMessage) {
        bridge::CancelMessage cancelled;
        if (!bridge::fromVariant(received->parameters(), cancelled))
            return false;
        cancel(browser, cancelled.requestId);
        received->reply(bridge::kReplyMessage, bridge::toVariant(bridge::ReplyMessage{}));
        return true;
    }
    return false;
}

void CefMessageRouterBrowserSideLinux::receiveQuery(fvcef::CefRefPtr<fvcef::CefBrowser> browser,
                                                    const bridge::QueryMessage& query,
                                                    std::function<void(const bridge::ReplyMessage&)> reply)
{
    if (query.request.size() > bridge::kMaxRequestBytes) {
        logRouterLine("Request too large for " + query.bridge + ": " + std::to_string(query.request.size()) + " bytes");
        reply(failure(bridge::kTooLargeText));
        return;
    }
    if (!isAllowed(browser, query)) {
        // The origin only: the address may carry the page's own secrets.
        const bridge::WebOrigin origin = bridge::parseWebOrigin(query.frameUrl);
        logRouterLine("Query refused for " + query.bridge + " from " +
                      (origin.valid ? origin.scheme + "://" + origin.host + ":" + std::to_string(origin.port)
                                    : std::string("another document")) +
                      (query.mainFrame ? "" : " (a sub-frame)"));
        reply(failure(bridge::kRefusedText));
        return;
    }
    const auto handler = m_handlers.find(query.bridge);
    if (handler == m_handlers.end()) {
        reply(failure(bridge::kCanceledText));
        return;
    }
    const std::int64_t queryId = nextQueryId();
    auto shared = std::make_shared<QueryReply>(QueryReply{std::move(reply)});
    m_pending.emplace(queryId, Pending{browser, query.requestId, handler->second, shared});
    fvcef::CefRefPtr<QueryCallbackLinux> callback(new QueryCallbackLinux(this, queryId, shared));
    bool taken = false;
    runLoggingFailure(
        [&] {
            taken = handler->second->OnQuery(browser, browser->GetMainFrame(), queryId, query.request, query.persistent,
                                             callback);
        },
        kReceiveQuery);
    if (!taken)
        callback->Failure(bridge::kFailureCode, bridge::kCanceledText);
}

bool CefMessageRouterBrowserSideLinux::isAllowed(fvcef::CefRefPtr<fvcef::CefBrowser> browser,
                                                 const bridge::QueryMessage& query) const
{
    const fvcef::CefRefPtr<fvcef::CefFrame> mainFrame = browser ? browser->GetMainFrame() : nullptr;
    return query.mainFrame && mainFrame && bridge::sameWebOrigin(query.frameUrl, m_webAppUrl) &&
           bridge::sameWebOrigin(query.frameUrl, mainFrame->GetURL());
}

void CefMessageRouterBrowserSideLinux::forget(std::int64_t queryId)
{
    m_pending.erase(queryId);
}

void CefMessageRouterBrowserSideLinux::cancel(fvcef::CefRefPtr<fvcef::CefBrowser> browser, std::uint64_t requestId)
{
    for (auto entry = m_pending.begin(); entry != m_pending.end(); ++entry) {
        if (entry->second.requestId == requestId && entry->second.browser->IsSame(browser)) {
            drop(entry);
            return;
        }
    }
}

void CefMessageRouterBrowserSideLinux::dropPending(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    std::vector<std::int64_t> doomed;
    for (const auto& entry : m_pending)
        if (entry.second.browser->IsSame(browser))
            doomed.push_back(entry.first);
    // A handler told of one may answer or cancel others: each is looked up again.
    for (std::int64_t queryId : doomed) {
        const auto entry = m_pending.find(queryId);
        if (entry != m_pending.end())
            drop(entry);
    }
}

void CefMessageRouterBrowserSideLinux::drop(std::map<std::int64_t, Pending>::iterator entry)
{
    const std::int64_t queryId = entry->first;
    const Pending pending = entry->second;
    m_pending.erase(entry);
    pending.reply->answerOnce({bridge::ReplyKind::Dropped, 0, std::string()});
    runLoggingFailure(
        [&] { pending.handler->OnQueryCanceled(pending.browser, pending.browser->GetMainFrame(), queryId); },
        "ferrovan::CefMessageRouterBrowserSideLinux::drop");
}

} // namespace ferrovan
