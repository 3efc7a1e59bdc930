#pragma once

#include "bridge/IWebAppLifeCycleCallback.h"
#include "browser/WebAppNavigator.h"
#include "browser/WindowEventCatcher.h"
#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefClient.h"
#include "browser/host/CefMessageRouterBrowserSide.h"
#include "browser/host/CefRefPtr.h"
#include "shell/HandOffTarget.h"

#include <Poco/SharedPtr.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {
class CDownloadManager;
class CUploadManager;
} // namespace fv_transfers

namespace ferrovan {
class AppEnvironment;
class AppSettings;
class GlobalTransferProgressReporter;
struct NavigationRequest;
class IGlobalProgressBar;
class INativeUiDataHolder;
class WindowPlacementSaver;
} // namespace ferrovan

// The client of the program's one browser: it wires the page's bridges to their handlers and the
// transfer managers, keeps the browser on the web application, carries the web application
// through its life (loading, readiness, what waits for it, exit) and closes everything once,
// however the close comes. UI thread only, except CloseAllBrowsers.
class FvCefHandler : public fvcef::CefRefCounted<fvcef::CefClient, ferrovan::IWebAppLifeCycleCallback>,
                     public ferrovan::IWindowEventCatcher::IEventHanlder,
                     public ferrovan::IWebAppNavigator,
                     public ferrovan::IHandOffTarget {
public:
    // What the handler tells the application object.
    class IEventCallback {
    public:
        // A load of the main frame ended (any page, any status).
        virtual void onPageLoaded(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                                  int statusCode) = 0;
        // The main window as a parent for dialogs; null while there is none.
        virtual ferrovan::INativeUiDataHolder* mainWindow() = 0;

    protected:
        ~IEventCallback() = default;
    };

    // What the handler makes for itself; tests put their own in.
    struct Parts {
        // Fills the query handler registry (bridge names with their handlers).
        std::function<void()> registerQueryHandlers;
        std::function<Poco::SharedPtr<fv_transfers::CUploadManager>()> uploadManager;
        std::function<Poco::SharedPtr<fv_transfers::CDownloadManager>()> downloadManager;
        // How long a close may take before the handler runs its close steps itself.
        unsigned closeWatchdogMs = 10000;
        // A second end of the page's process within this time shows the error page instead of
        // reloading again.
        unsigned processEndWindowMs = 10000;
        // Tests stand in for a browser whose close report never comes.
        bool ignoreBrowserCloseReport = false;
        Parts();
    };

    FvCefHandler(Poco::SharedPtr<ferrovan::AppEnvironment> environment, Poco::SharedPtr<ferrovan::AppSettings> settings,
                 IEventCallback* eventCallback, Parts parts = Parts());
    FvCefHandler(const FvCefHandler&) = delete;
    FvCefHandler& operator=(const FvCefHandler&) = delete;

    // The live handler; null when there is none.
    static FvCefHandler* getInstance();

    // Any thread; the close itself runs on the UI thread.
    void CloseAllBrowsers(bool forceClose);

    // CefClient
    void OnAfterCreated(fvcef::CefRefPtr<fvcef::CefBrowser> browser) override;
    bool DoClose(fvcef::CefRefPtr<fvcef::CefBrowser> browser) override;
    void OnBeforeClose(fvcef::CefRefPtr<fvcef::CefBrowser> browser) override;
    void OnLoadEnd(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                   int httpStatusCode) override;
    void OnLoadError(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                     fvcef::cef_errorcode_t errorCode, const fvcef::CefString& errorText,
                     const fvcef::CefString& failedUrl) override;
    bool OnBeforeBrowse(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                        const fvcef::CefString& url, bool user_gesture, bool is_redirect) override;
    bool OnResourceResponse(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                            const fvcef::CefString& url, bool is_main_frame_main_resource, bool can_show) override;
    void OnOpenNewWindow(fvcef::CefRefPtr<fvcef::CefBrowser> browser, const fvcef::CefString& url,
                         bool user_gesture) override;
    bool GetAuthCredentials(fvcef::CefRefPtr<fvcef::CefBrowser> browser, bool isProxy, const fvcef::CefString& host,
                            int port, const fvcef::CefString& realm, const fvcef::CefString& scheme,
                            fvcef::CefRefPtr<fvcef::CefAuthCallback> callback) override;
    bool OnJSDialog(fvcef::CefRefPtr<fvcef::CefBrowser> browser, const fvcef::CefString& origin_url,
                    fvcef::cef_jsdialog_type_t dialog_type, const fvcef::CefString& message_text,
                    fvcef::CefRefPtr<fvcef::CefJSDialogCallback> callback) override;
    void OnRenderProcessTerminated(fvcef::CefRefPtr<fvcef::CefBrowser> browser,
                                   fvcef::cef_termination_status_t status) override;
    bool OnDragEnter(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefDragData> dragData,
                     fvcef::cef_drag_operations_mask_t mask) override;
    bool OnProcessMessageReceived(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                                  fvcef::cef_process_id_t source_process,
                                  fvcef::CefRefPtr<fvcef::CefProcessMessage> message) override;

    // The web application's life.
    std::string getWebAppUrl() const;
    static void getLocalPageUrls(std::vector<std::string>& urls);
    void loadUrl(fvcef::CefRefPtr<fvcef::CefBrowser> browser, const std::string& url);
    void loadApp(fvcef::CefRefPtr<fvcef::CefBrowser> browser);
    // Runs the route in the ready page, or keeps it until the page is ready.
    void navigateToAddress(const std::string& path);
    void onStartup() override;
    void onShutdown() override;
    virtual void notifyAppShutdown();
    void setProgressReporters(ferrovan::GlobalTransferProgressReporter* reporter, ferrovan::IGlobalProgressBar* bar);

    // IWebAppNavigator and IHandOffTarget
    void navigateToNewMessage() override;
    void navigateToNewShare() override;
    bool isAppInitialized() override { return m_appInitialized; }
    void filesDropped(const std::list<std::string>& paths, bool complete, bool defer) override;
    // The files go with the route asked for just before, if any, as one hand-over.
    void storePendingFiles(const std::list<std::string>& paths, bool complete, bool defer) override;
    // The application object raises the window.
    void activateMainWindow() override {}

    // IWindowEventCatcher::IEventHanlder
    void onWindowResized(int width, int height, bool maximized) override;
    void onWindowMoved(int top, int left) override;

    void promptProxyCredentials(fvcef::CefRefPtr<fvcef::CefBrowser> browser, const std::string& host,
                                const std::string& realm, fvcef::CefRefPtr<fvcef::CefAuthCallback> callback);

    // Whether the close steps ran.
    bool isClosed() const { return m_closed; }
    // The main browser; null before it is made and once closed.
    fvcef::CefRefPtr<fvcef::CefBrowser> getBrowser() const { return mainBrowser(); }

protected:
    ~FvCefHandler() override;

    // The close steps, once: managers shut down, bridges and handlers released, the loop ended
    // when no browser is left. OnBeforeClose and the close watchdog both end here.
    void runCloseSteps(fvcef::CefRefPtr<fvcef::CefBrowser> browser);

private:
    struct PendingWebAppRequest {
        int type = 0; // 0: a route
        std::string route;
    };

    void wireBridges(fvcef::CefRefPtr<fvcef::CefBrowser> browser);
    // Logs what the policy says; false also when it cannot be asked.
    bool isNavigationAllowed(const ferrovan::NavigationRequest& request) const;
    void scheduleCloseWatchdog();
    void onCloseTask(std::uint64_t generation);
    fvcef::CefRefPtr<fvcef::CefBrowser> mainBrowser() const;
    std::list<fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide>> routers() const;
    bool isWebAppMainFrameUrl(const std::string& url) const;
    void showErrorPage(fvcef::CefRefPtr<fvcef::CefBrowser> browser);
    void deliverHandOvers();
    // Runs `task` later on the UI thread, unless the handler has closed or is gone by then.
    void postLater(std::function<void()> task, std::int64_t delayMs);

    Poco::SharedPtr<ferrovan::AppEnvironment> m_environment;
    Poco::SharedPtr<ferrovan::AppSettings> m_settings;
    IEventCallback* m_eventCallback; // not owned
    Parts m_parts;

    std::list<fvcef::CefRefPtr<fvcef::CefBrowser>> m_browsers;
    std::list<fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide>> m_routers;
    bool m_closing = false;
    bool m_closed = false;
    bool m_appInitialized = false;
    // onAppStartup runs once per browser: a reload's second "onAppReady" starts nothing again.
    bool m_lifecycleStarted = false;
    bool m_webAppLoaded = false;
    std::deque<PendingWebAppRequest> m_pendingRequests;

    Poco::SharedPtr<fv_transfers::CUploadManager> m_uploadManager;
    Poco::SharedPtr<fv_transfers::CDownloadManager> m_downloadManager;
    ferrovan::GlobalTransferProgressReporter* m_keptReporter = nullptr; // not owned
    ferrovan::IGlobalProgressBar* m_keptBar = nullptr;                  // not owned

    std::unique_ptr<ferrovan::IWindowEventCatcher> m_windowEventCatcher;
    std::unique_ptr<ferrovan::WindowPlacementSaver> m_placementSaver;

    std::string m_proxyUser;
    std::string m_proxyPassword;
    std::string m_proxyRealm;
    int m_savedCredentialUses = 0;

    std::uint64_t m_closeWatchdogGeneration = 0;
    bool m_closeWatchdogArmed = false;
    // Monotonic milliseconds of the last end of the page's process; 0 when none.
    std::int64_t m_lastProcessEndMs = 0;

    // Held weakly by every task the handler posts, so one that runs after the handler is gone
    // does nothing.
    std::shared_ptr<FvCefHandler*> m_self;
};
