#include "app/shell/FixedBundleInfo.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"
#include "support/gui/MainContextWait.h"
#include "support/service/TestService.h"

#include "bridge/IAppLifecycleEventsHandler.h"
#include "bridge/IDragHandler.h"
#include "bridge/QueryHandlerBase.h"
#include "bridge/QueryHandlerNativeApp.h"
#include "bridge/QueryHandlerRegistry.h"
#include "bridge/UserGrantedPaths.h"
#include "browser/FerrovanCefApp.h"
#include "browser/PendingFilesStore.h"
#include "browser/TestEvents.h"
#include "browser/host/linux/CefBrowserLinux.h"
#include "browser/host/linux/CefUiThreadLinux.h"
#include "shell/AppEnvironment.h"
#include "shell/AppSettings.h"
#include "shell/BrowserSettings.h"
#include "shell/CommandLineArguments.h"
#include "shell/FerrovanLogger.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/File.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <sstream>
#include <unistd.h>
#include <memory>
#include <string>
#include <vector>

using namespace fv_test;
using namespace std::chrono_literals;

namespace {

const char* const kNativeApp = "nativeAppBridge_IPC";
const char* const kLifecycleBridge = "uploadManagerBridge_IPC";
const char* const kDragBridge = "fileHandleChooserBridge_IPC";

// A loopback port nothing listens on.
int closedLoopbackPort()
{
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    const int port = socket.address().port();
    socket.close();
    return port;
}

// What the stand-in handlers saw, in order.
struct Record {
    int startups = 0;
    int shutdowns = 0;
    bool registryHeldHandlersAtShutdown = false;
    struct Drop {
        std::list<std::string> paths;
        bool complete;
        bool defer;
    };
    std::vector<Drop> drops;
};

// Offers the life-cycle interface, as the transfer bridges do.
class LifecycleHandler : public ferrovan::CQueryHandlerBase, public ferrovan::IAppLifecycleEventsHandler {
public:
    explicit LifecycleHandler(Record& record) : m_record(record) {}
    Poco::Any getInterface(int id) override
    {
        if (id == ferrovan::kAppLifecycleEventsHandlerInterface)
            return static_cast<ferrovan::IAppLifecycleEventsHandler*>(this);
        return {};
    }
    void onAppStartup() override { ++m_record.startups; }
    void onAppShutdown() override
    {
        ++m_record.shutdowns;
        m_record.registryHeldHandlersAtShutdown = !ferrovan::QueryHandlerRegistry::getInstance().empty();
    }

private:
    Record& m_record;
};

// Offers the drag interface, as the chooser bridge does.
class DropHandler : public ferrovan::CQueryHandlerBase, public ferrovan::IDragHandler {
public:
    explicit DropHandler(Record& record) : m_record(record) {}
    Poco::Any getInterface(int id) override
    {
        if (id == ferrovan::kDragHandlerInterface)
            return static_cast<ferrovan::IDragHandler*>(this);
        return {};
    }
    bool filesDragged(const ferrovan::DragRecord&) override { return true; }
    void filesDropped(const std::list<std::string>& paths, bool complete, bool defer) override
    {
        m_record.drops.push_back({paths, complete, defer});
    }

private:
    Record& m_record;
};

// The real host classes and window over a real view, the web application being the test
// service's page; the transfer bridges are stood in for.
class BrowserHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GtkDriver::startGtk());
        ferrovan::CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log"));
        ferrovan::setTestEventsEnabled(true);
        const std::string resources = m_dir.file("bin/Resources");
        Poco::File(resources).createDirectories();
        writeFile(resources + "/loading.html", "<!doctype html><title>loading</title><p>Loading");
        writeFile(resources + "/error.html", "<!doctype html><title>error</title><p>No service");
        m_settings = new ferrovan::AppSettings(m_dir.file("fv_settings.json"));
    }

    void TearDown() override
    {
        ferrovan::QueryHandlerRegistry::getInstance().clear();
        ferrovan::PendingFilesStore::getInstance().takeAll();
        runMainContextUntil([] { return false; }, 200ms);
        ferrovan::setTestEventsEnabled(false);
        ferrovan::CFerrovanLogger::destroyInstance();
    }

    Poco::SharedPtr<ferrovan::AppEnvironment> environment(const std::string& appUrl)
    {
        return new ferrovan::AppEnvironment(new FixedBundleInfo(), m_dir.file("bin/Ferrovan"),
                                            {{ferrovan::CommandLineArguments::kAppUrl, appUrl}});
    }

    FerrovanCefApp::Options options()
    {
        FerrovanCefApp::Options options;
        options.handlerParts.registerQueryHandlers = [this] {
            auto& registry = ferrovan::QueryHandlerRegistry::getInstance();
            registry.addHandler(kNativeApp, new ferrovan::CQueryHandlerNativeApp);
            registry.addHandler(kLifecycleBridge, new LifecycleHandler(m_record));
            registry.addHandler(kDragBridge, new DropHandler(m_record));
        };
        options.handlerParts.uploadManager = [] { return Poco::SharedPtr<fv_transfers::CUploadManager>(); };
        options.handlerParts.downloadManager = [] { return Poco::SharedPtr<fv_transfers::CDownloadManager>(); };
        options.bridgeNames = [] { return std::vector<std::string>{kNativeApp, kLifecycleBridge, kDragBridge}; };
        options.extensionsDirectory = FV_WEB_EXTENSIONS_BUILD_DIR;
        return options;
    }

    std::unique_ptr<FerrovanCefApp> makeApp(const std::string& appUrl, FerrovanCefApp::Options options)
    {
        return std::make_unique<FerrovanCefApp>(
            environment(appUrl), m_settings, nullptr,
            ferrovan::makeBrowserSettings(m_dir.file("cache"), m_dir.file("browser.log"), "FerrovanTest/1.0", true),
            std::move(options));
    }

    static GtkWidget* window(FerrovanCefApp& app) { return GTK_WIDGET(app.getNativeWindow()); }

    static WebKitWebView* view(FerrovanCefApp& app)
    {
        auto* browser = dynamic_cast<ferrovan::CefBrowserLinux*>(app.getClientHandler()->getBrowser().get());
        return browser != nullptr ? browser->getWebView() : nullptr;
    }

public:
    void runScript(FerrovanCefApp& app, const std::string& script)
    {
        webkit_web_view_evaluate_javascript(view(app), script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    }

protected:
    std::vector<Json::Value> reportsOf(const std::string& call) const
    {
        std::vector<Json::Value> found;
        for (const Json::Value& report : m_service.pageReports())
            if (report["call"].asString() == call)
                found.push_back(report);
        return found;
    }

    std::size_t readyReplies() const
    {
        std::size_t count = 0;
        for (const Json::Value& report : reportsOf("reply"))
            if (report["args"][1].asString() == "onAppReady")
                ++count;
        return count;
    }

    std::vector<std::string> routesSeen() const
    {
        std::vector<std::string> routes;
        for (const Json::Value& report : reportsOf("Backbone.history.navigate"))
            routes.push_back(report["args"][0].asString());
        return routes;
    }

    // The test events of the log, "name json" each, in order.
    std::vector<std::string> testEvents() const
    {
        std::vector<std::string> events;
        const std::string text = readFile(m_dir.file("fv_app.log"));
        const std::string marker = "TEST-EVENT ";
        for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
            const std::size_t end = text.find('\n', at);
            events.push_back(text.substr(at + marker.size(), end - at - marker.size()));
        }
        return events;
    }

    // Runs the program's loop until the host ends it; false when it did not end in time. A close
    // that ended everything before the loop ran has nothing left to wait for.
    static bool runLoopUntilQuit(FerrovanCefApp& app)
    {
        if (app.getClientHandler()->isClosed())
            return true;
        bool expired = false;
        const guint deadline = g_timeout_add_seconds(
            60,
            [](gpointer flag) -> gboolean {
                *static_cast<bool*>(flag) = true;
                gtk_main_quit();
                return G_SOURCE_REMOVE;
            },
            &expired);
        gtk_main();
        if (!expired)
            g_source_remove(deadline);
        return !expired;
    }

    TempDir m_dir;
    TestService m_service;
    ferrovan::UiTaskQueueLinux m_queue;
    ferrovan::CefUiThreadLinux m_uiThread{m_queue};
    Poco::SharedPtr<ferrovan::AppSettings> m_settings;
    Record m_record;
    Watchdog m_watchdog{"browser host test", 110s};
};

// Hidden until the loading page is there; the web application follows and, once it says it is
// ready, starts the transfer bridges once and receives the routes asked for meanwhile (menu
// routes first) and each hand-over as its route followed by its files, each exactly once.
TEST_F(BrowserHostTest, TheWebAppGetsWhatWaitedForItOnceInOrder)
{
    const auto app = makeApp(m_service.url(""), options());
    ASSERT_TRUE(app->OnContextInitialized());
    ASSERT_NE(nullptr, window(*app));
    EXPECT_FALSE(gtk_widget_get_visible(window(*app)));
    EXPECT_FALSE(app->isAppInitialized());

    app->navigateToNewShare(); // the menu's Share Files
    app->navigateToNewMessage();
    app->storePendingFiles({"/tmp/a"}, false, true);
    app->navigateToNewShare();
    app->storePendingFiles({"/tmp/b", "/tmp/c"}, true, true);

    ASSERT_TRUE(runMainContextUntil([&] { return gtk_widget_get_visible(window(*app)); }, 30s));
    ASSERT_TRUE(runMainContextUntil([&] { return m_record.drops.size() == 2 && routesSeen().size() == 3; }, 30s));
    EXPECT_TRUE(app->isAppInitialized());
    EXPECT_EQ(1, m_record.startups);
    EXPECT_EQ((std::vector<std::string>{"/share/new", "/message/new", "/share/new"}), routesSeen());
    EXPECT_EQ((std::list<std::string>{"/tmp/a"}), m_record.drops[0].paths);
    EXPECT_FALSE(m_record.drops[0].complete);
    EXPECT_EQ((std::list<std::string>{"/tmp/b", "/tmp/c"}), m_record.drops[1].paths);
    EXPECT_TRUE(m_record.drops[1].complete);
    // What was handed over may be uploaded by the page.
    for (const char* path : {"/tmp/a", "/tmp/b", "/tmp/c"})
        EXPECT_TRUE(ferrovan::UserGrantedPaths::getInstance().isGranted(path)) << path;
    // The page's load event (its "onAppReady") may come before the view reports the load's end,
    // so only the deliveries are in a fixed order.
    std::vector<std::string> deliveries;
    const std::vector<std::string> events = testEvents();
    for (const std::string& event : events)
        if (event.rfind("route ", 0) == 0 || event.rfind("hand-over ", 0) == 0)
            deliveries.push_back(event);
    EXPECT_EQ((std::vector<std::string>{"route {\"route\":\"/share/new\"}", "route {\"route\":\"/message/new\"}",
                                        "hand-over {\"complete\":false,\"defer\":true,\"files\":1}",
                                        "route {\"route\":\"/share/new\"}",
                                        "hand-over {\"complete\":true,\"defer\":true,\"files\":2}"}),
              deliveries);
    for (const char* once : {"window-shown {}", "web-app-loaded {\"status\":200}"})
        EXPECT_EQ(1, std::count(events.begin(), events.end(), std::string(once))) << once;

    // A reload reports ready again: nothing starts again and nothing is handed over twice.
    webkit_web_view_reload(view(*app));
    ASSERT_TRUE(runMainContextUntil([&] { return readyReplies() == 2; }, 30s)) << readFile(m_dir.file("fv_app.log"));
    runMainContextUntil([] { return false; }, 300ms);
    EXPECT_EQ(1, m_record.startups);
    EXPECT_EQ(2u, m_record.drops.size());
    EXPECT_EQ(3u, routesSeen().size());

    // A route reaches the page as it was given, whatever it holds.
    const std::string odd = "/x'</script>\"\\y";
    app->getClientHandler()->navigateToAddress(odd);
    ASSERT_TRUE(runMainContextUntil([&] { return routesSeen().size() == 4; }, 30s));
    EXPECT_EQ(odd, routesSeen().back());

    app->closeMainWindow();
    ASSERT_TRUE(runLoopUntilQuit(*app));
    EXPECT_TRUE(app->getClientHandler()->isClosed());
    EXPECT_EQ(1, m_record.shutdowns);
}

struct CloseRoad {
    const char* name;
    bool withholdCloseReport;
    std::function<void(BrowserHostTest&, FerrovanCefApp&)> close;
};

// Every road out ends the loop with the bridges shut down once, before their handlers are
// released; nothing queued for the page runs afterwards.
TEST_F(BrowserHostTest, EveryCloseRoadEndsEverythingOnce)
{
    const CloseRoad roads[] = {
        {"the window's close button", false,
         [](BrowserHostTest&, FerrovanCefApp& app) { gtk_window_close(GTK_WINDOW(app.getNativeWindow())); }},
        {"the page's onAppExit", false,
         [](BrowserHostTest& test, FerrovanCefApp& app) {
             test.runScript(app, "nativeAppBridge_IPC({request: JSON.stringify({method: 'onAppExit'}), "
                                 "onSuccess: function () {}, onFailure: function () {}})");
         }},
        {"the menu's Exit", false, [](BrowserHostTest&, FerrovanCefApp& app) { app.closeMainWindow(); }},
        {"a close report that never comes", true, [](BrowserHostTest&, FerrovanCefApp& app) { app.closeMainWindow(); }},
    };
    for (const CloseRoad& road : roads) {
        SCOPED_TRACE(road.name);
        m_record = Record();
        FerrovanCefApp::Options opts = options();
        opts.handlerParts.ignoreBrowserCloseReport = road.withholdCloseReport;
        opts.handlerParts.closeWatchdogMs = 500;
        const auto app = makeApp(m_service.url(""), std::move(opts));
        ASSERT_TRUE(app->OnContextInitialized());
        const std::size_t readyBefore = readyReplies();
        ASSERT_TRUE(runMainContextUntil([&] { return readyReplies() > readyBefore && m_record.startups == 1; }, 30s));

        road.close(*this, *app);
        ASSERT_TRUE(runLoopUntilQuit(*app));
        FvCefHandler* handler = app->getClientHandler();
        EXPECT_TRUE(handler->isClosed());
        EXPECT_EQ(1, m_record.shutdowns);
        EXPECT_TRUE(m_record.registryHeldHandlersAtShutdown);
        EXPECT_TRUE(ferrovan::QueryHandlerRegistry::getInstance().empty());

        // A late report of the browser's end changes nothing; a route asked for now reaches no page.
        const std::size_t routes = routesSeen().size();
        handler->OnBeforeClose(handler->getBrowser());
        handler->navigateToNewMessage();
        runMainContextUntil([] { return false; }, 300ms);
        EXPECT_EQ(1, m_record.shutdowns);
        EXPECT_EQ(routes, routesSeen().size());
    }
}

// A web application that cannot be reached, or whose certificate is not trusted, shows the error
// page, which offers to try again.
TEST_F(BrowserHostTest, AWebAppThatCannotBeShownGivesTheErrorPage)
{
    TestServiceOptions tls;
    tls.https = true;
    TestService secure(tls);
    const std::pair<const char*, std::string> cases[] = {
        {"nothing listens", "http://127.0.0.1:" + std::to_string(closedLoopbackPort())},
        {"an untrusted certificate", secure.secureBaseUrl()},
    };
    for (const auto& [what, appUrl] : cases) {
        SCOPED_TRACE(what);
        m_record = Record();
        const auto app = makeApp(appUrl, options());
        ASSERT_TRUE(app->OnContextInitialized());
        ASSERT_TRUE(runMainContextUntil(
            [&] {
                const char* uri = webkit_web_view_get_uri(view(*app));
                return uri != nullptr && std::string(uri).rfind("fv-resource://local/error.html?retry=", 0) == 0;
            },
            30s))
            << readFile(m_dir.file("fv_app.log"));
        EXPECT_NE(std::string::npos, readFile(m_dir.file("fv_app.log")).find("Failed to load web app!"));
        EXPECT_EQ(0, m_record.startups);
        app->closeMainWindow();
        ASSERT_TRUE(runLoopUntilQuit(*app)) << readFile(m_dir.file("fv_app.log"));
    }
}

// The page processes this test process started.
std::vector<pid_t> webProcesses()
{
    std::vector<pid_t> found;
    for (Poco::DirectoryIterator it(std::string("/proc")), end; it != end; ++it) {
        const std::string name = it.name();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string stat;
        try {
            stat = readFile("/proc/" + name + "/stat");
        } catch (const std::exception&) {
            continue;
        }
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || stat.find("(WebKitWebProces") == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == ::getpid() && state != 'Z')
            found.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return found;
}

// A page process that dies is replaced and the page loaded again once; dying again soon after
// shows the error page instead of a reload loop.
TEST_F(BrowserHostTest, APageProcessThatDiesIsReloadedOnceThenTheErrorPageShows)
{
    const auto app = makeApp(m_service.url(""), options());
    ASSERT_TRUE(app->OnContextInitialized());
    ASSERT_TRUE(runMainContextUntil([&] { return readyReplies() == 1; }, 30s));
    for (pid_t pid : webProcesses())
        ::kill(pid, SIGKILL);
    ASSERT_TRUE(runMainContextUntil([&] { return readyReplies() == 2; }, 30s));
    EXPECT_EQ(1, m_record.startups);

    for (pid_t pid : webProcesses())
        ::kill(pid, SIGKILL);
    ASSERT_TRUE(runMainContextUntil(
        [&] {
            const char* uri = webkit_web_view_get_uri(view(*app));
            return uri != nullptr && std::string(uri).rfind("fv-resource://local/error.html", 0) == 0;
        },
        30s));
    EXPECT_EQ(2u, readyReplies());
    app->closeMainWindow();
    ASSERT_TRUE(runLoopUntilQuit(*app));
    EXPECT_EQ(1, m_record.shutdowns);
}

} // namespace
