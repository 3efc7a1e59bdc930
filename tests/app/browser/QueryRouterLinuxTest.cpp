#include "RecordingQueryHandler.h"
#include "WebViewFixture.h"

#include "browser/host/linux/CefMessageRouterBrowserSideLinux.h"
#include "browser/host/linux/webext/BridgeProtocol.h"

#include <algorithm>

using namespace fv_test;
using ferrovan::bridge::QueryMessage;
using ferrovan::bridge::ReplyKind;
using ferrovan::bridge::ReplyMessage;

namespace {

// The page's bridge, end to end: the test page of the service at /app is the web application.
class QueryRouterLinuxTest : public WebViewFixture {
protected:
    void SetUp() override
    {
        WebViewFixture::SetUp();
        m_router = new ferrovan::CefMessageRouterBrowserSideLinux({webAppUrl()});
        ASSERT_TRUE(m_router->AddHandler("nativeAppBridge_IPC", &m_native));
        ASSERT_TRUE(m_router->AddHandler("uploadManagerBridge_IPC", &m_upload));
        EXPECT_FALSE(m_router->AddHandler("nativeAppBridge_IPC", &m_upload)) << "one handler a name";
        m_upload.mode = RecordingQueryHandler::Mode::Decline;
        m_client->router = m_router.get();
    }

    // The outcome of one query from the page: "ok:" + the reply, or the code and the message.
    std::string query(const std::string& bridge, const std::string& requestExpression)
    {
        return evaluateAsync("return await new Promise(done => window['" + bridge +
                             "']({request: " + requestExpression +
                             ", onSuccess: ok => done('ok:' + ok), onFailure: (code, message) => done(code + ' ' + "
                             "message)}));");
    }

    // A query the handler holds; its late answers set window.late.
    std::int64_t holdQuery()
    {
        m_native.mode = RecordingQueryHandler::Mode::Hold;
        const std::size_t before = m_native.held.size();
        evaluate("window.heldId = nativeAppBridge_IPC({request: 'held', onSuccess: () => { window.late = 'success'; "
                 "}, onFailure: () => { window.late = 'failure'; }}); 0");
        EXPECT_TRUE(runMainContextUntil([&] { return m_native.held.size() > before; }, kDeadline));
        m_native.mode = RecordingQueryHandler::Mode::Echo;
        return m_native.held.empty() ? 0 : m_native.held.rbegin()->first;
    }

    // A round trip through the bridge, so anything sent before it has arrived.
    void roundTrip() { EXPECT_EQ("\"ok:echo:sync\"", query("nativeAppBridge_IPC", "'sync'")); }

    RecordingQueryHandler m_native;
    RecordingQueryHandler m_upload;
    fvcef::CefRefPtr<ferrovan::CefMessageRouterBrowserSideLinux> m_router;
};

TEST_F(QueryRouterLinuxTest, TheWebApplicationQueriesItsHandlersAndGetsOneAnswerEach)
{
    ASSERT_NO_FATAL_FAILURE(open(webAppUrl()));
    const auto ready = awaitPageReport([](const Json::Value& r) { return r["call"] == "reply"; });
    ASSERT_TRUE(ready.has_value());
    EXPECT_EQ("nativeAppBridge_IPC", (*ready)["args"][0].asString());
    EXPECT_EQ("echo:{\"method\":\"onAppReady\"}", (*ready)["args"][2].asString());
    ASSERT_FALSE(m_native.requests.empty());
    EXPECT_EQ("{\"method\":\"onAppReady\"}", m_native.requests[0]);

    EXPECT_EQ("\"-1 The query has been canceled\"", query("uploadManagerBridge_IPC", "'{\"method\":\"x\"}'"));
    EXPECT_EQ("\"absent\"", evaluate("(window.webkit && window.webkit.messageHandlers && "
                                     "window.webkit.messageHandlers.nativeAppBridge_IPC) ? 'present' : 'absent'"));

    // 1000 at once: every one answered, none twice.
    const std::size_t before = m_native.requests.size();
    EXPECT_EQ("\"answered 1000, twice 0, right 1000\"",
              evaluateAsync("const counts = new Map(); let right = 0;"
                            "await Promise.all(Array.from({length: 1000}, (_, i) => new Promise(done => "
                            "nativeAppBridge_IPC({request: 'q' + i, onSuccess: reply => {"
                            "  counts.set(i, (counts.get(i) || 0) + 1); if (reply === 'echo:q' + i) ++right; done(); },"
                            "  onFailure: () => { counts.set(i, (counts.get(i) || 0) + 1); done(); }}))));"
                            "await new Promise(done => nativeAppBridge_IPC({request: 'last', onSuccess: done}));"
                            "return 'answered ' + counts.size + ', twice ' + "
                            "       [...counts.values()].filter(c => c !== 1).length + ', right ' + right;"));
    EXPECT_EQ(before + 1001, m_native.requests.size());

    // Arguments that are no query throw in the page and send nothing.
    const std::size_t sent = m_native.requests.size();
    for (const char* argument : {"{request: 5}", "null", "'text'", "{}", "undefined"}) {
        SCOPED_TRACE(argument);
        EXPECT_EQ("\"TypeError\"", evaluate(std::string("try { nativeAppBridge_IPC(") + argument +
                                            "); 'no error' } catch (e) { e instanceof TypeError ? 'TypeError' : "
                                            "String(e) }"));
    }
    roundTrip();
    EXPECT_EQ(sent + 1, m_native.requests.size());

    EXPECT_EQ("\"-1 Request too large\"", query("nativeAppBridge_IPC", "'x'.repeat(64 * 1024 * 1024 + 1)"));
    EXPECT_EQ(sent + 1, m_native.requests.size());
    EXPECT_EQ("\"ok:echo:" + std::string(10, 'y') + "\"", query("nativeAppBridge_IPC", "'y'.repeat(10)"));
}

TEST_F(QueryRouterLinuxTest, CancelledAndOrphanedQueriesNeverAnswerThePage)
{
    ASSERT_NO_FATAL_FAILURE(open(webAppUrl()));

    // A frame of the page navigating leaves the page's queries alone.
    const std::int64_t kept = holdQuery();
    const std::string frameUrl = m_service.url("/app?frame");
    evaluate("const f = document.createElement('iframe'); f.src = '" + frameUrl + "'; document.body.appendChild(f); 0");
    ASSERT_TRUE(runMainContextUntil(
        [&] {
            return std::find(m_client->navigations.begin(), m_client->navigations.end(), frameUrl) !=
                   m_client->navigations.end();
        },
        kDeadline));
    ASSERT_TRUE(awaitPageReport([](const Json::Value& r) { return r["call"] == "bridge-missing"; }).has_value())
        << "the frame's page ran";
    roundTrip();
    EXPECT_TRUE(m_native.canceled.empty());
    m_native.held[kept]->Success("in time");
    m_native.held.clear();
    EXPECT_TRUE(runMainContextUntil([&] { return evaluate("window.late") == "\"success\""; }, kDeadline));
    evaluate("window.late = undefined");

    // The page cancels: the handler is told, and its late answer goes nowhere.
    const std::int64_t cancelled = holdQuery();
    evaluate("cefQueryCancel(window.heldId)");
    ASSERT_TRUE(runMainContextUntil([&] { return m_native.canceled.size() == 1; }, kDeadline));
    EXPECT_EQ(cancelled, m_native.canceled[0]);
    EXPECT_EQ(0u, m_router->pendingCount());
    m_native.held[cancelled]->Success("late");
    m_native.held.clear();
    roundTrip();
    EXPECT_EQ("undefined", evaluate("window.late"));

    // A reload ends the document: the handler is told, and the late answer never reaches the
    // new page.
    const std::int64_t orphaned = holdQuery();
    ASSERT_NO_FATAL_FAILURE(load(webAppUrl()));
    ASSERT_TRUE(runMainContextUntil([&] { return m_native.canceled.size() == 2; }, kDeadline));
    EXPECT_EQ(orphaned, m_native.canceled[1]);
    evaluate("window.late = undefined; window.heldId = undefined");
    m_native.held[orphaned]->Success("late");
    m_native.held.clear();
    roundTrip();
    EXPECT_EQ("undefined", evaluate("window.late"));

    // A callback released unanswered fails its query.
    m_native.mode = RecordingQueryHandler::Mode::Hold;
    std::string outcome;
    webkit_web_view_evaluate_javascript(view(),
                                        "nativeAppBridge_IPC({request: 'dropped', onFailure: (c, m) => { "
                                        "window.released = c + ' ' + m; }}); 0",
                                        -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(runMainContextUntil([&] { return !m_native.held.empty(); }, kDeadline));
    m_native.held.clear();
    m_native.mode = RecordingQueryHandler::Mode::Echo;
    EXPECT_TRUE(runMainContextUntil([&] { return evaluate("window.released") == "\"-1 The query has been canceled\""; },
                                    kDeadline));

    // The page's process ends: the handler is told of its pending query, which answers nothing.
    const std::int64_t stranded = holdQuery();
    webkit_web_view_terminate_web_process(view());
    ASSERT_TRUE(runMainContextUntil([&] { return !m_client->terminations.empty(); }, kDeadline));
    EXPECT_EQ(fvcef::TS_PROCESS_WAS_KILLED, m_client->terminations[0]);
    ASSERT_EQ(3u, m_native.canceled.size());
    EXPECT_EQ(stranded, m_native.canceled[2]);
    EXPECT_EQ(0u, m_router->pendingCount());
    m_native.held[stranded]->Success("late");
    m_native.held.clear();
    runReady(nullptr);
}

TEST_F(QueryRouterLinuxTest, OnlyTheWebApplicationsMainDocumentHasTheBridge)
{
    const std::string framesPage =
        "<!DOCTYPE html><script>window.seen = {};"
        "addEventListener('message', e => { window.seen[e.data.from] = e.data.saw; });</script>"
        "<iframe src='" +
        m_service.url("/child?from=same") +
        "'></iframe><iframe src='http://localhost:" + std::to_string(m_service.httpPort()) +
        "/child?from=cross'></iframe>";
    const std::string childPage = "<!DOCTYPE html><script>parent.postMessage({from: location.search.slice(6), saw: "
                                  "typeof window.nativeAppBridge_IPC + ' ' + typeof window.cefQueryCancel}, '*');"
                                  "</script>";
    m_service.routes().add("GET", "/frames", [framesPage](ServiceRequest&, ServiceResponse& response) {
        response.setBody(200, framesPage, "text/html");
    });
    m_service.routes().add("GET", "/child", [childPage](ServiceRequest&, ServiceResponse& response) {
        response.setBody(200, childPage, "text/html");
    });

    // The web application's origin, any path: the main document has it, no frame inside does.
    ASSERT_NO_FATAL_FAILURE(open(m_service.url("/frames")));
    EXPECT_EQ("\"function function\"",
              evaluate("typeof window.nativeAppBridge_IPC + ' ' + typeof window.cefQueryCancel"));
    ASSERT_TRUE(runMainContextUntil([&] { return evaluate("Object.keys(window.seen).length") == "2"; }, kDeadline));
    EXPECT_EQ("\"undefined undefined; undefined undefined\"", evaluate("window.seen.same + '; ' + window.seen.cross"));

    // Another origin (the same listener by another name) and pages without one get none.
    for (const std::string& url :
         {"http://localhost:" + std::to_string(m_service.httpPort()) + "/app", std::string("about:blank")}) {
        SCOPED_TRACE(url);
        ASSERT_NO_FATAL_FAILURE(load(url));
        EXPECT_EQ("\"undefined undefined\"",
                  evaluate("typeof window.nativeAppBridge_IPC + ' ' + typeof window.cefQueryCancel"));
    }
    EXPECT_TRUE(m_native.requests.empty());
}

// What a page process could send that the extension never would: the program refuses it
// before any handler runs.
TEST_F(QueryRouterLinuxTest, QueriesFromOtherDocumentsAreRefusedBeforeAnyHandler)
{
    ASSERT_NO_FATAL_FAILURE(open(webAppUrl()));
    ASSERT_TRUE(runMainContextUntil([&] { return !m_native.requests.empty(); }, kDeadline));
    const std::size_t before = m_native.requests.size();
    const std::string otherOrigin = "http://localhost:" + std::to_string(m_service.httpPort()) + "/app";
    struct Case {
        const char* name;
        QueryMessage query;
        ReplyMessage expected;
    };
    const Case cases[] = {
        {"another origin",
         {"nativeAppBridge_IPC", 901, "a", false, otherOrigin, true},
         {ReplyKind::Failure, -1, "Query refused"}},
        {"a sub-frame",
         {"nativeAppBridge_IPC", 902, "b", false, webAppUrl(), false},
         {ReplyKind::Failure, -1, "Query refused"}},
        {"no address",
         {"nativeAppBridge_IPC", 903, "c", false, "about:blank", true},
         {ReplyKind::Failure, -1, "Query refused"}},
        {"too large",
         {"nativeAppBridge_IPC", 904, std::string(64 * 1024 * 1024 + 1, 'x'), false, webAppUrl(), true},
         {ReplyKind::Failure, -1, "Request too large"}},
        {"unknown bridge",
         {"otherBridge_IPC", 905, "d", false, webAppUrl(), true},
         {ReplyKind::Failure, -1, "The query has been canceled"}},
        {"the web application",
         {"nativeAppBridge_IPC", 906, "e", false, webAppUrl(), true},
         {ReplyKind::Success, 0, "echo:e"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ReplyMessage> replies;
        m_router->receiveQuery(m_browser.get(), c.query, [&](const ReplyMessage& r) { replies.push_back(r); });
        ASSERT_EQ(1u, replies.size());
        EXPECT_EQ(c.expected.kind, replies[0].kind);
        EXPECT_EQ(c.expected.code, replies[0].code);
        EXPECT_EQ(c.expected.text, replies[0].text);
    }
    ASSERT_EQ(before + 1, m_native.requests.size());
    EXPECT_EQ("e", m_native.requests.back());
    EXPECT_NE(std::string::npos, log().find("Query refused"));

    // The view shows another origin now: a query naming the web application is refused too.
    ASSERT_NO_FATAL_FAILURE(load(otherOrigin));
    std::vector<ReplyMessage> replies;
    m_router->receiveQuery(m_browser.get(), {"nativeAppBridge_IPC", 907, "f", false, webAppUrl(), true},
                           [&](const ReplyMessage& r) { replies.push_back(r); });
    ASSERT_EQ(1u, replies.size());
    EXPECT_EQ("Query refused", replies[0].text);
    EXPECT_EQ(before + 1, m_native.requests.size());
}

} // namespace
