#pragma once

#include "RecordingClient.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"
#include "support/gui/MainContextWait.h"
#include "support/service/TestService.h"

#include "browser/host/linux/CefBrowserLinux.h"
#include "browser/host/linux/CefUiThreadLinux.h"
#include "browser/host/linux/WebContextLinux.h"
#include "shell/FerrovanLogger.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace fv_test {

// A real view in a window of its own, over a web context like the program's, its extension from
// this build, and the test service serving the page. The web application is the service's /app.
// Views start slowly: a test opens one and runs its cases through it.
class WebViewFixture : public ::testing::Test {
protected:
    static constexpr std::chrono::seconds kDeadline{30};

    void SetUp() override
    {
        ASSERT_TRUE(GtkDriver::startGtk());
        ferrovan::CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log"));
        ferrovan::WebContextConfig config;
        config.settings =
            ferrovan::makeBrowserSettings(m_dir.file("cache"), m_dir.file("browser.log"), "FerrovanTest/1.0", true);
        config.bridgeNames = {"nativeAppBridge_IPC", "uploadManagerBridge_IPC"};
        config.webAppUrl = webAppUrl();
        config.extensionsDirectory = FV_WEB_EXTENSIONS_BUILD_DIR;
        config.localResources = [this](const std::string& path) { return m_localPages + path; };
        adjust(config);
        m_context = std::make_unique<ferrovan::WebContextLinux>(config);
    }

    void TearDown() override
    {
        if (m_browser)
            m_browser->CloseBrowser(true);
        m_browser = nullptr;
        runReady(nullptr);
        m_context.reset();
        ferrovan::CFerrovanLogger::destroyInstance();
    }

    // For a test's own context settings.
    virtual void adjust(ferrovan::WebContextConfig&) {}

    std::string webAppUrl() const { return m_service.url("/app"); }

    // Opens the view at `url` and waits for that load to end.
    void open(const std::string& url)
    {
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
        m_browser = ferrovan::CefBrowserLinux::create(*m_context, GTK_WINDOW(window), m_client, url);
        gtk_widget_show(window);
        ASSERT_TRUE(runMainContextUntil([&] { return !m_client->loadEnds.empty() || !m_client->loadErrors.empty(); },
                                        kDeadline));
    }

    // Navigates and waits for the load's end (or its failure).
    void load(const std::string& url)
    {
        const std::size_t ends = m_client->loadEnds.size();
        const std::size_t errors = m_client->loadErrors.size();
        m_browser->GetMainFrame()->LoadURL(url);
        ASSERT_TRUE(runMainContextUntil(
            [&] { return m_client->loadEnds.size() > ends || m_client->loadErrors.size() > errors; }, kDeadline));
    }

    WebKitWebView* view() const { return m_browser->getWebView(); }

    // The value of `script` in the page, as JSON; "<exception: ...>" when it threw.
    std::string evaluate(const std::string& script) { return awaitScript(script, false); }
    // The value the promise `body` (an async function's body) resolves to, as JSON.
    std::string evaluateAsync(const std::string& body) { return awaitScript(body, true); }

    std::optional<Json::Value> awaitPageReport(const std::function<bool(const Json::Value&)>& predicate)
    {
        std::optional<Json::Value> found;
        runMainContextUntil(
            [&] {
                for (const Json::Value& report : m_service.pageReports())
                    if (predicate(report)) {
                        found = report;
                        return true;
                    }
                return false;
            },
            kDeadline);
        return found;
    }

    std::string log() const { return readFile(m_dir.file("fv_app.log")); }

    TempDir m_dir;
    std::string m_localPages = m_dir.path() + "/pages";
    TestService m_service;
    ferrovan::UiTaskQueueLinux m_queue;
    ferrovan::CefUiThreadLinux m_uiThread{m_queue};
    std::unique_ptr<ferrovan::WebContextLinux> m_context;
    fvcef::CefRefPtr<RecordingClient> m_client{new RecordingClient};
    fvcef::CefRefPtr<ferrovan::CefBrowserLinux> m_browser;
    Watchdog m_watchdog{"web view test", std::chrono::seconds(110)};

private:
    struct ScriptResult {
        bool done = false;
        std::string json;
    };

    using Holder = std::shared_ptr<ScriptResult>;

    // Each callback owns its holder: the view answers even a script it could not finish.
    static void onScriptDone(GObject* source, GAsyncResult* result, gpointer data)
    {
        const std::unique_ptr<Holder> outcome(static_cast<Holder*>(data));
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
        finish(**outcome, value, error);
    }

    static void onAsyncScriptDone(GObject* source, GAsyncResult* result, gpointer data)
    {
        const std::unique_ptr<Holder> outcome(static_cast<Holder*>(data));
        GError* error = nullptr;
        JSCValue* value =
            webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
        finish(**outcome, value, error);
    }

    static void finish(ScriptResult& outcome, JSCValue* value, GError* error)
    {
        if (value != nullptr) {
            char* json = jsc_value_is_undefined(value) ? nullptr : jsc_value_to_json(value, 0);
            outcome.json = json != nullptr ? json : "undefined";
            g_free(json);
            g_object_unref(value);
        } else {
            outcome.json = std::string("<exception: ") + (error != nullptr ? error->message : "") + ">";
        }
        if (error != nullptr)
            g_error_free(error);
        outcome.done = true;
    }

    std::string awaitScript(const std::string& script, bool async)
    {
        auto outcome = std::make_shared<ScriptResult>();
        if (async)
            webkit_web_view_call_async_javascript_function(view(), script.c_str(), -1, nullptr, nullptr, nullptr,
                                                           nullptr, onAsyncScriptDone, new Holder(outcome));
        else
            webkit_web_view_evaluate_javascript(view(), script.c_str(), -1, nullptr, nullptr, nullptr, onScriptDone,
                                                new Holder(outcome));
        if (!runMainContextUntil([&] { return outcome->done; }, kDeadline))
            return "<timeout>";
        return outcome->json;
    }
};

} // namespace fv_test
