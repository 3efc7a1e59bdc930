#include "WebViewFixture.h"

#include "browser/host/linux/ContextMenuFilter.h"
#include "browser/host/linux/LocalSchemeHandlerLinux.h"

#include <Poco/File.h>

using namespace fv_test;

namespace {

using ClientCallbacksLinuxTest = WebViewFixture;

std::string page(const std::string& title)
{
    return "<!DOCTYPE html><title>" + title + "</title><p>" + title;
}

// Waits until the client saw `count` navigations, then until the view has settled on them.
void awaitNavigations(RecordingClient& client, std::size_t count)
{
    EXPECT_TRUE(runMainContextUntil([&] { return client.navigations.size() >= count; }, std::chrono::seconds(30)));
}

TEST_F(ClientCallbacksLinuxTest, LocalPagesComeFromTheResolversFilesOnly)
{
    Poco::File(m_localPages).createDirectories();
    writeFile(m_localPages + "/loading.html", page("loading"));
    ASSERT_NO_FATAL_FAILURE(open("fv-resource://local/loading.html"));
    ASSERT_EQ(1u, m_client->loadEnds.size());
    EXPECT_EQ("\"loading\"", evaluate("document.title"));

    for (const char* missing : {"fv-resource://local/missing.html", "fv-resource://local/"}) {
        SCOPED_TRACE(missing);
        ASSERT_NO_FATAL_FAILURE(load(missing));
        ASSERT_FALSE(m_client->loadErrors.empty());
        EXPECT_EQ(missing, m_client->loadErrors.back().url);
        EXPECT_EQ(fvcef::ERR_FILE_NOT_FOUND, m_client->loadErrors.back().code);
    }

    const struct {
        const char* path;
        const char* type;
    } types[] = {{"/a/loading.html", "text/html"},       {"/a/b.CSS", "text/css"},
                 {"/x.js", "text/javascript"},           {"/i.svg", "image/svg+xml"},
                 {"/a.b/c", "application/octet-stream"}, {"/noext", "application/octet-stream"}};
    for (const auto& t : types)
        EXPECT_EQ(t.type, ferrovan::LocalSchemeHandlerLinux::mimeTypeFor(t.path)) << t.path;
}

TEST_F(ClientCallbacksLinuxTest, NavigationsResponsesAndNewWindowsGoThroughTheClient)
{
    m_service.routes().add("GET", "/blocked",
                           [](ServiceRequest&, ServiceResponse& r) { r.setBody(200, page("b"), "text/html"); });
    m_service.routes().add("GET", "/binary", [](ServiceRequest&, ServiceResponse& r) {
        r.setBody(200, "\x01\x02", "application/octet-stream");
    });
    m_service.routes().add("GET", "/refused",
                           [](ServiceRequest&, ServiceResponse& r) { r.setBody(200, page("r"), "text/html"); });
    m_client->cancelNavigation = [](const std::string& url) { return url.find("/blocked") != std::string::npos; };
    m_client->cancelResponse = [](const std::string& url) { return url.find("/refused") != std::string::npos; };
    const std::string start = m_service.url("/app");
    ASSERT_NO_FATAL_FAILURE(open(start));
    EXPECT_EQ(200, m_client->loadEnds.back());
    EXPECT_EQ(start, m_client->responses.back());

    // Refused by the client, a response the view cannot show, a response the client refuses,
    // a local file: the page stays.
    for (const std::string& url : {m_service.url("/blocked"), m_service.url("/binary"), m_service.url("/refused"),
                                   std::string("file:///etc/hostname")}) {
        SCOPED_TRACE(url);
        const std::size_t seen = m_client->navigations.size();
        evaluate("location.href = '" + url + "'; 0");
        if (url.rfind("file:", 0) != 0)
            awaitNavigations(*m_client, seen + 1);
        runMainContextUntil([] { return false; }, std::chrono::milliseconds(500));
        EXPECT_EQ("\"" + start + "\"", evaluate("location.href"));
    }
    for (const std::string& url : m_client->navigations)
        EXPECT_EQ(std::string::npos, url.find("file:")) << "a local file is refused before the client is asked";
    EXPECT_NE(std::find(m_client->responses.begin(), m_client->responses.end(), m_service.url("/binary")),
              m_client->responses.end());

    // A failed load reaches the client with its address.
    std::string closed;
    {
        TestService gone;
        closed = gone.url("/");
    }
    m_browser->GetMainFrame()->LoadURL(closed);
    ASSERT_TRUE(runMainContextUntil(
        [&] {
            return std::any_of(m_client->loadErrors.begin(), m_client->loadErrors.end(),
                               [&](const auto& error) { return error.url == closed && error.code != fvcef::ERR_NONE; });
        },
        kDeadline));

    // No second view: the address goes to the client.
    ASSERT_NO_FATAL_FAILURE(load(start));
    EXPECT_EQ("null", evaluate("window.open('http://example.invalid/other')"));
    ASSERT_TRUE(runMainContextUntil([&] { return !m_client->newWindows.empty(); }, kDeadline));
    EXPECT_EQ("http://example.invalid/other", m_client->newWindows[0]);
}

TEST_F(ClientCallbacksLinuxTest, CredentialRequestsAreAnsweredOrCancelledNeverLeftWaiting)
{
    m_service.routes().add("GET", "/secret", [](ServiceRequest& request, ServiceResponse& response) {
        if (request.headers().get("Authorization") == "Basic dXNlcjpwdw==") {
            response.setBody(200, page("secret"), "text/html");
            return;
        }
        response.setBody(401, page("denied"), "text/html");
        response.headers.add("WWW-Authenticate", "Basic realm=\"fv\"");
    });
    ASSERT_NO_FATAL_FAILURE(open(m_service.url("/app")));
    const std::string secret = m_service.url("/secret");

    fvcef::CefRefPtr<fvcef::CefAuthCallback> kept;
    const struct {
        const char* name;
        std::function<bool(fvcef::CefRefPtr<fvcef::CefAuthCallback>)> answer;
        bool authenticated;
    } cases[] = {
        {"declined", nullptr, false},
        {"cancelled",
         [](fvcef::CefRefPtr<fvcef::CefAuthCallback> c) {
             c->Cancel();
             return true;
         },
         false},
        {"released unanswered", [](fvcef::CefRefPtr<fvcef::CefAuthCallback>) { return true; }, false},
        {"answered",
         [](fvcef::CefRefPtr<fvcef::CefAuthCallback> c) {
             c->Continue("user", "pw");
             return true;
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_client->answerAuth = c.answer;
        const std::size_t asked = m_client->auths.size();
        ASSERT_NO_FATAL_FAILURE(load(secret));
        ASSERT_EQ(asked + 1, m_client->auths.size());
        const bool shown = evaluate("document.title") == "\"secret\"";
        EXPECT_EQ(c.authenticated, shown);
    }
    const RecordingClient::Auth& auth = m_client->auths.back();
    EXPECT_FALSE(auth.isProxy);
    EXPECT_EQ("127.0.0.1", auth.host);
    EXPECT_EQ(m_service.httpPort(), auth.port);
    EXPECT_EQ("fv", auth.realm);
    EXPECT_EQ("basic", auth.scheme);
}

TEST_F(ClientCallbacksLinuxTest, AlertsAndConfirmsWaitForTheClientsAnswer)
{
    ASSERT_NO_FATAL_FAILURE(open(m_service.url("/app")));
    const struct {
        const char* name;
        const char* script;
        std::function<bool(fvcef::cef_jsdialog_type_t, fvcef::CefRefPtr<fvcef::CefJSDialogCallback>)> answer;
        const char* result;
    } cases[] = {
        {"alert", "alert('a1'); 'after'",
         [](fvcef::cef_jsdialog_type_t t, fvcef::CefRefPtr<fvcef::CefJSDialogCallback> c) {
             EXPECT_EQ(fvcef::JSDIALOGTYPE_ALERT, t);
             c->Continue(true, "");
             return true;
         },
         "\"after\""},
        {"confirm yes", "confirm('c1')",
         [](fvcef::cef_jsdialog_type_t t, fvcef::CefRefPtr<fvcef::CefJSDialogCallback> c) {
             EXPECT_EQ(fvcef::JSDIALOGTYPE_CONFIRM, t);
             c->Continue(true, "");
             c->Continue(false, "");
             return true;
         },
         "true"},
        {"confirm no", "confirm('c2')",
         [](fvcef::cef_jsdialog_type_t, fvcef::CefRefPtr<fvcef::CefJSDialogCallback> c) {
             c->Continue(false, "");
             return true;
         },
         "false"},
        {"confirm released unanswered", "confirm('c3')",
         [](fvcef::cef_jsdialog_type_t, fvcef::CefRefPtr<fvcef::CefJSDialogCallback>) { return true; }, "false"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_client->answerDialog = c.answer;
        EXPECT_EQ(c.result, evaluate(c.script));
    }
    EXPECT_EQ((std::vector<std::string>{"a1", "c1", "c2", "c3"}), m_client->dialogs);
}

TEST(ContextMenuFilter, DropsDownloadsAndNewWindowsAndInspectsOnlyForDevelopers)
{
    const WebKitContextMenuAction kept[] = {WEBKIT_CONTEXT_MENU_ACTION_COPY, WEBKIT_CONTEXT_MENU_ACTION_RELOAD,
                                            WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK};
    const WebKitContextMenuAction dropped[] = {
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW};
    for (bool developer : {false, true}) {
        SCOPED_TRACE(developer ? "developer" : "user");
        WebKitContextMenu* menu = webkit_context_menu_new();
        for (WebKitContextMenuAction action : dropped)
            webkit_context_menu_append(menu, webkit_context_menu_item_new_from_stock_action(action));
        for (WebKitContextMenuAction action : kept)
            webkit_context_menu_append(menu, webkit_context_menu_item_new_from_stock_action(action));
        webkit_context_menu_append(
            menu, webkit_context_menu_item_new_from_stock_action(WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT));
        ferrovan::filterContextMenu(menu, developer);
        std::vector<WebKitContextMenuAction> left;
        for (GList* item = webkit_context_menu_get_items(menu); item != nullptr; item = item->next)
            left.push_back(webkit_context_menu_item_get_stock_action(WEBKIT_CONTEXT_MENU_ITEM(item->data)));
        std::vector<WebKitContextMenuAction> expected(std::begin(kept), std::end(kept));
        if (developer)
            expected.push_back(WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT);
        EXPECT_EQ(expected, left);
        g_object_unref(menu);
    }
}

} // namespace
