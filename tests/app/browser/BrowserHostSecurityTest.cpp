#include "app/shell/FixedBundleInfo.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/FakeDesktopHandlers.h"
#include "support/gui/GtkDriver.h"
#include "support/gui/MainContextWait.h"
#include "support/service/TestService.h"

#include "bridge/QueryHandlerNativeApp.h"
#include "bridge/QueryHandlerRegistry.h"
#include "browser/FerrovanCefApp.h"
#include "browser/PendingFilesStore.h"
#include "browser/host/linux/CefBrowserLinux.h"
#include "browser/host/linux/CefUiThreadLinux.h"
#include "shell/AppEnvironment.h"
#include "shell/AppSettings.h"
#include "shell/BrowserSettings.h"
#include "shell/CommandLineArguments.h"
#include "shell/FerrovanLogger.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include <Poco/File.h>
#include <Poco/Path.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace fv_test;
using namespace std::chrono_literals;

namespace {

const char* const kNativeApp = "nativeAppBridge_IPC";
const char* const kBlocked = "Navigation blocked.";

// GIO reads the desktop's handlers once, so they are written before any test touches GIO.
FakeDesktopHandlers& handlers()
{
    static FakeDesktopHandlers instance;
    return instance;
}

// The program's own bridge, counting every query that reaches it.
class CountingNativeApp : public ferrovan::CQueryHandlerNativeApp {
public:
    explicit CountingNativeApp(std::size_t& queries) : m_queries(queries) {}
    bool OnQuery(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                 std::int64_t queryId, const fvcef::CefString& request, bool persistent,
                 fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide::Callback> callback) override
    {
        ++m_queries;
        return CQueryHandlerNativeApp::OnQuery(browser, frame, queryId, request, persistent, callback);
    }

private:
    std::size_t& m_queries;
};

// What the views were asked and did, seen ahead of any handler of the host, whatever it decides.
class ViewWitness {
public:
    struct Question {
        WebKitPolicyDecisionType type;
        std::string url;
        bool gesture;
    };

    ViewWitness()
    {
        hook(WEBKIT_TYPE_WEB_VIEW, "decide-policy", &ViewWitness::onDecidePolicy);
        hook(WEBKIT_TYPE_WEB_VIEW, "load-changed", &ViewWitness::onLoadChanged);
        hook(WEBKIT_TYPE_WEB_CONTEXT, "download-started", &ViewWitness::onDownloadStarted);
    }
    ViewWitness(const ViewWitness&) = delete;
    ViewWitness& operator=(const ViewWitness&) = delete;
    ~ViewWitness()
    {
        for (const auto& [signal, id] : m_hooks)
            g_signal_remove_emission_hook(signal, id);
    }

    bool asked(WebKitPolicyDecisionType type, const std::string& url, bool byUser = false) const
    {
        return std::any_of(questions.begin(), questions.end(),
                           [&](const Question& q) { return q.type == type && q.url == url && (q.gesture || !byUser); });
    }

    std::vector<Question> questions;
    std::vector<std::string> loadsStarted;
    int downloads = 0;

private:
    using Hook = gboolean (*)(GSignalInvocationHint*, guint, const GValue*, gpointer);

    void hook(GType type, const char* name, Hook function)
    {
        // Signals exist once their class does.
        gpointer klass = g_type_class_ref(type);
        const guint signal = g_signal_lookup(name, type);
        g_type_class_unref(klass);
        m_hooks.emplace_back(signal, g_signal_add_emission_hook(signal, 0, function, this, nullptr));
    }

    static gboolean onDecidePolicy(GSignalInvocationHint*, guint, const GValue* values, gpointer self)
    {
        auto* decision = static_cast<WebKitPolicyDecision*>(g_value_get_object(&values[1]));
        const auto type = static_cast<WebKitPolicyDecisionType>(g_value_get_enum(&values[2]));
        Question question{type, {}, false};
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
            question.url = webkit_uri_request_get_uri(
                webkit_response_policy_decision_get_request(WEBKIT_RESPONSE_POLICY_DECISION(decision)));
        } else {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            question.url = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
            question.gesture = webkit_navigation_action_is_user_gesture(action);
        }
        static_cast<ViewWitness*>(self)->questions.push_back(question);
        return TRUE;
    }

    static gboolean onLoadChanged(GSignalInvocationHint*, guint, const GValue* values, gpointer self)
    {
        auto* view = static_cast<WebKitWebView*>(g_value_get_object(&values[0]));
        const char* uri = webkit_web_view_get_uri(view);
        if (static_cast<WebKitLoadEvent>(g_value_get_enum(&values[1])) == WEBKIT_LOAD_STARTED)
            static_cast<ViewWitness*>(self)->loadsStarted.push_back(uri != nullptr ? uri : "");
        return TRUE;
    }

    static gboolean onDownloadStarted(GSignalInvocationHint*, guint, const GValue*, gpointer self)
    {
        ++static_cast<ViewWitness*>(self)->downloads;
        return TRUE;
    }

    std::vector<std::pair<guint, gulong>> m_hooks;
};

// Every regular file under `root`, recursively.
std::set<std::string> filesUnder(const std::string& root)
{
    std::set<std::string> found;
    std::vector<Poco::File> pending{Poco::File(root)};
    while (!pending.empty()) {
        Poco::File folder = pending.back();
        pending.pop_back();
        if (!folder.exists() || !folder.isDirectory() || folder.isLink())
            continue;
        std::vector<Poco::File> children;
        folder.list(children);
        for (const Poco::File& child : children) {
            if (child.isLink())
                continue;
            if (child.isDirectory())
                pending.push_back(child);
            else
                found.insert(child.path());
        }
    }
    return found;
}

struct Evaluation {
    bool done = false;
    std::string value;
};

// The real host and window over a real view, the web application being the test service's page;
// each attempt runs from one of the service's fixture pages, loaded into the same window.
class BrowserHostSecurityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_handlers.clear();
        ASSERT_TRUE(GtkDriver::startGtk());
        ferrovan::CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log"));
        const std::string resources = m_dir.file("bin/Resources");
        Poco::File(resources).createDirectories();
        writeFile(resources + "/loading.html", "<!doctype html><title>loading</title><p>Loading");
        writeFile(resources + "/error.html", "<!doctype html><title>error</title><p>No service");
        m_settings = new ferrovan::AppSettings(m_dir.file("fv_settings.json"));
        startApp();
    }

    void TearDown() override
    {
        if (m_app) {
            m_app->closeMainWindow();
            EXPECT_TRUE(runMainContextUntil([&] { return m_app->getClientHandler()->isClosed(); }, 30s));
            m_app.reset();
        }
        ferrovan::QueryHandlerRegistry::getInstance().clear();
        ferrovan::PendingFilesStore::getInstance().takeAll();
        runMainContextUntil([] { return false; }, 200ms);
        ferrovan::CFerrovanLogger::destroyInstance();
    }

public:
    void startApp()
    {
        FerrovanCefApp::Options options;
        options.handlerParts.registerQueryHandlers = [this] {
            ferrovan::QueryHandlerRegistry::getInstance().addHandler(kNativeApp, new CountingNativeApp(m_queries));
        };
        options.handlerParts.uploadManager = [] { return Poco::SharedPtr<fv_transfers::CUploadManager>(); };
        options.handlerParts.downloadManager = [] { return Poco::SharedPtr<fv_transfers::CDownloadManager>(); };
        options.bridgeNames = [] { return std::vector<std::string>{kNativeApp}; };
        options.extensionsDirectory = FV_WEB_EXTENSIONS_BUILD_DIR;
        Poco::SharedPtr<ferrovan::AppEnvironment> environment =
            new ferrovan::AppEnvironment(new FixedBundleInfo(), m_dir.file("bin/Ferrovan"),
                                         {{ferrovan::CommandLineArguments::kAppUrl, m_service.url("")}});
        m_app = std::make_unique<FerrovanCefApp>(
            environment, m_settings, nullptr,
            ferrovan::makeBrowserSettings(m_dir.file("cache"), m_dir.file("browser.log"), "FerrovanTest/1.0", true),
            std::move(options));
        ASSERT_TRUE(m_app->OnContextInitialized());
        ASSERT_TRUE(runMainContextUntil(
            [&] { return gtk_widget_get_visible(GTK_WIDGET(m_app->getNativeWindow())) && m_queries > 0; }, 30s))
            << log();
    }

    WebKitWebView* view() const
    {
        auto* browser = dynamic_cast<ferrovan::CefBrowserLinux*>(m_app->getClientHandler()->getBrowser().get());
        return browser != nullptr ? browser->getWebView() : nullptr;
    }

    std::string log() const { return readFile(m_dir.file("fv_app.log")); }

    std::size_t blockedLines() const
    {
        const std::string text = log();
        std::size_t count = 0;
        for (std::size_t at = text.find(kBlocked); at != std::string::npos; at = text.find(kBlocked, at + 1))
            ++count;
        return count;
    }

    std::vector<Json::Value> reportsOf(const std::string& call) const
    {
        std::vector<Json::Value> reports = m_service.pageReports();
        reports.erase(std::remove_if(reports.begin(), reports.end(),
                                     [&](const Json::Value& report) { return report["call"].asString() != call; }),
                      reports.end());
        return reports;
    }

    std::size_t loadsOf(const std::string& fixture) const
    {
        std::size_t count = 0;
        for (const Json::Value& report : reportsOf("fixture-loaded"))
            if (report["args"][0].asString() == fixture)
                ++count;
        return count;
    }

    std::string fixtureUrl(const std::string& page, const std::string& host = "127.0.0.1") const
    {
        std::string url = m_service.url("/app/fixtures/" + page);
        return url.replace(url.find("127.0.0.1"), 9, host);
    }

    // Loads a fixture page as the program would load the web application, and waits for its script.
    void show(const std::string& fixture)
    {
        const std::size_t before = loadsOf(fixture);
        webkit_web_view_load_uri(view(), fixtureUrl(fixture + ".html").c_str());
        ASSERT_TRUE(runMainContextUntil([&] { return loadsOf(fixture) > before; }, 30s)) << log();
    }

    std::string evaluate(const std::string& script)
    {
        Evaluation& evaluation = m_evaluations.emplace_back();
        webkit_web_view_evaluate_javascript(
            view(), script.c_str(), -1, nullptr, nullptr, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* evaluation = static_cast<Evaluation*>(data);
                GError* error = nullptr;
                if (JSCValue* value =
                        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error)) {
                    char* text = jsc_value_to_string(value);
                    evaluation->value = text;
                    g_free(text);
                    g_object_unref(value);
                } else {
                    evaluation->value = std::string("error: ") + error->message;
                    g_error_free(error);
                }
                evaluation->done = true;
            },
            &evaluation);
        EXPECT_TRUE(runMainContextUntil([&] { return evaluation.done; }, 30s)) << script;
        return evaluation.value;
    }

    // What the user does: the left button pressed and released over the element's middle.
    void click(const std::string& id)
    {
        const std::string where =
            evaluate("(function () { var r = document.getElementById('" + id +
                     "').getBoundingClientRect(); return (r.left + r.width / 2) + ',' + (r.top + r.height / 2); })()");
        const std::size_t comma = where.find(',');
        ASSERT_NE(std::string::npos, comma) << where;
        GtkWidget* widget = GTK_WIDGET(view());
        GdkWindow* window = gtk_widget_get_window(widget);
        int x = static_cast<int>(std::atof(where.substr(0, comma).c_str()));
        int y = static_cast<int>(std::atof(where.substr(comma + 1).c_str()));
        if (!gtk_widget_get_has_window(widget)) {
            GtkAllocation allocation;
            gtk_widget_get_allocation(widget, &allocation);
            x += allocation.x;
            y += allocation.y;
        }
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_window_get_display(window)));
        for (GdkEventType type : {GDK_MOTION_NOTIFY, GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
            GdkEvent* event = gdk_event_new(type);
            if (type == GDK_MOTION_NOTIFY) {
                event->motion.window = GDK_WINDOW(g_object_ref(window));
                event->motion.send_event = TRUE;
                event->motion.time = GDK_CURRENT_TIME;
                event->motion.x = x;
                event->motion.y = y;
            } else {
                event->button.window = GDK_WINDOW(g_object_ref(window));
                event->button.send_event = TRUE;
                event->button.time = GDK_CURRENT_TIME;
                event->button.x = x;
                event->button.y = y;
                event->button.button = 1;
                if (type == GDK_BUTTON_RELEASE)
                    event->button.state = GDK_BUTTON1_MASK;
            }
            gdk_event_set_device(event, pointer);
            gtk_main_do_event(event);
            gdk_event_free(event);
        }
    }

    int viewCount() const
    {
        int count = 0;
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* item = toplevels; item != nullptr; item = item->next)
            count += static_cast<int>(GtkDriver::descendants(GTK_WIDGET(item->data), WEBKIT_TYPE_WEB_VIEW).size());
        g_list_free(toplevels);
        return count;
    }

    std::vector<std::string> historyUrls() const
    {
        std::vector<std::string> urls;
        WebKitBackForwardList* list = webkit_web_view_get_back_forward_list(view());
        GList* back = webkit_back_forward_list_get_back_list(list);
        GList* forward = webkit_back_forward_list_get_forward_list(list);
        for (GList* items : {back, forward})
            for (GList* item = items; item != nullptr; item = item->next)
                urls.push_back(webkit_back_forward_list_item_get_uri(WEBKIT_BACK_FORWARD_LIST_ITEM(item->data)));
        if (WebKitBackForwardListItem* current = webkit_back_forward_list_get_current_item(list))
            urls.push_back(webkit_back_forward_list_item_get_uri(current));
        g_list_free(back);
        g_list_free(forward);
        return urls;
    }

    FakeDesktopHandlers& m_handlers = handlers(); // first: before anything reaches GIO
    TempDir m_dir;
    TestService m_service;
    ViewWitness m_witness;
    ferrovan::UiTaskQueueLinux m_queue;
    ferrovan::CefUiThreadLinux m_uiThread{m_queue};
    Poco::SharedPtr<ferrovan::AppSettings> m_settings;
    std::size_t m_queries = 0;
    std::deque<Evaluation> m_evaluations;
    std::unique_ptr<FerrovanCefApp> m_app;
    Watchdog m_watchdog{"browser host security test", 110s};
};

struct Attempt {
    const char* what;
    const char* fixture;
    std::function<void(BrowserHostSecurityTest&)> act;
    // Whether the host has had its say.
    std::function<bool(const BrowserHostSecurityTest&)> decided;
    bool logsBlocked;
    std::string toBrowser; // the address the desktop's browser gets, empty for none
    std::function<void(const BrowserHostSecurityTest&)> check = [](const BrowserHostSecurityTest&) {};
};

std::function<void(BrowserHostSecurityTest&)> clicking(const std::string& id)
{
    return [id](BrowserHostSecurityTest& test) { test.click(id); };
}

std::function<void(BrowserHostSecurityTest&)> running(const std::string& script)
{
    return [script](BrowserHostSecurityTest& test) { test.evaluate(script + "; 'ran'"); };
}

// Scripts run from the test count as the user's doing, and so does what they start within the
// view's second of grace; a page's own timer after that does not.
std::function<void(BrowserHostSecurityTest&)> navigatingLater(const std::string& url)
{
    return running("window.setTimeout(function () { window.location = '" + url + "'; }, 1500)");
}

std::function<bool(const BrowserHostSecurityTest&)> asked(WebKitPolicyDecisionType type, const std::string& url)
{
    return [type, url](const BrowserHostSecurityTest& test) { return test.m_witness.asked(type, url); };
}

// Asked before the navigation starts, as the user's doing.
std::function<bool(const BrowserHostSecurityTest&)> followedByUser(const std::string& url)
{
    return [url](const BrowserHostSecurityTest& test) {
        return test.m_witness.asked(WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION, url, true);
    };
}

std::function<bool(const BrowserHostSecurityTest&)> reported(const std::string& call, const std::string& first)
{
    return [call, first](const BrowserHostSecurityTest& test) {
        const std::vector<Json::Value> reports = test.reportsOf(call);
        return std::any_of(reports.begin(), reports.end(),
                           [&](const Json::Value& report) { return report["args"][0].asString() == first; });
    };
}

bool isLocalOrInline(const std::string& url)
{
    return url.rfind("file:", 0) == 0 || url.rfind("data:", 0) == 0;
}

} // namespace

// Whatever a page tries, the window keeps its page: other places open in the desktop's browser or
// nowhere, never in a second view; local files never load, the bridge stays the web application's
// and nothing is saved.
TEST_F(BrowserHostSecurityTest, APageCannotTakeTheWindowElsewhere)
{
    const auto response = WEBKIT_POLICY_DECISION_TYPE_RESPONSE;
    const Attempt attempts[] = {
        {"the user follows a link to another host", "links", clicking("other-host"),
         followedByUser("http://example.invalid/"), true, ""},
        {"the user follows a link to a local file", "links", clicking("local-file"),
         reported("link-clicked", "local-file"), false, ""},
        {"the user follows a link to a data address", "links", clicking("data"),
         followedByUser("data:text/html,%3Cp%3Edata%3C/p%3E"), true, ""},
        {"a window of a web page", "popup", clicking("other-origin"),
         [](const BrowserHostSecurityTest&) { return !handlers().browserCalls().empty(); }, false,
         fixtureUrl("popup-target.html", "localhost")},
        {"a window of a local file", "popup", clicking("local-file"), reported("window-open", "local-file"), false, ""},
        {"the page sends itself to a local file", "fileurl", running("location = 'file:///etc/passwd'"),
         [](const BrowserHostSecurityTest&) { return true; }, false, ""},
        {"the page sends itself to a data address", "links", navigatingLater("data:text/html,<p>x"),
         asked(response, "data:text/html,<p>x"), true, ""},
        {"a redirect to another origin", "links", navigatingLater("/app/fixtures/redirect"),
         asked(response, fixtureUrl("landing.html", "localhost")), true, ""},
        {"a download the page starts", "download", clicking("download"), asked(response, fixtureUrl("file.bin")), false,
         ""},
        {"a frame of another origin", "iframe", [](BrowserHostSecurityTest&) {}, reported("frame-bridge", "undefined"),
         false, "",
         [](const BrowserHostSecurityTest& test) {
             const Json::Value report = test.reportsOf("frame-bridge").back();
             EXPECT_EQ("undefined", report["args"][1].asString());
             EXPECT_EQ(0u, report["args"][3].asString().rfind("threw", 0)) << report;
             EXPECT_TRUE(test.reportsOf("frame-bridge-reply").empty());
             EXPECT_TRUE(test.reportsOf("frame-bridge-failure").empty());
         }},
    };
    const std::set<std::string> homeBefore = filesUnder(Poco::Path::home());
    for (const Attempt& attempt : attempts) {
        SCOPED_TRACE(attempt.what);
        show(attempt.fixture);
        handlers().clear();
        const std::size_t blocked = blockedLines();
        const std::size_t queries = m_queries;
        attempt.act(*this);
        ASSERT_TRUE(runMainContextUntil([&] { return attempt.decided(*this); }, 20s)) << log();
        if (attempt.logsBlocked) {
            EXPECT_TRUE(runMainContextUntil([&] { return blockedLines() > blocked; }, 30s)) << log();
        }
        const std::vector<std::string> launched = handlers().awaitBrowserCalls(1, attempt.toBrowser.empty() ? 2s : 30s);
        EXPECT_EQ(attempt.toBrowser.empty() ? std::vector<std::string>{} : std::vector<std::string>{attempt.toBrowser},
                  launched);
        EXPECT_EQ(fixtureUrl(std::string(attempt.fixture) + ".html"), webkit_web_view_get_uri(view()));
        EXPECT_EQ(1, viewCount());
        EXPECT_EQ(queries, m_queries);
        attempt.check(*this);
    }
    EXPECT_EQ(0u, loadsOf("landing"));
    EXPECT_EQ(0u, loadsOf("popup-target"));
    EXPECT_EQ(0, m_witness.downloads);
    EXPECT_EQ(homeBefore, filesUnder(Poco::Path::home()));
    for (const std::string& file : filesUnder(m_dir.path()))
        EXPECT_EQ(std::string::npos, file.find("file.bin")) << file;
    for (const std::string& url : m_witness.loadsStarted)
        EXPECT_FALSE(isLocalOrInline(url)) << url;
    for (const std::string& url : historyUrls())
        EXPECT_FALSE(isLocalOrInline(url)) << url;
}
