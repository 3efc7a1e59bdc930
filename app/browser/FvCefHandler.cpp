#include "browser/FvCefHandler.h"

#include "bridge/BridgeSleepCounter.h"
#include "bridge/GlobalTransferProgressReporter.h"
#include "bridge/IAppLifecycleEventsHandler.h"
#include "bridge/IDragHandler.h"
#include "bridge/IProgressBarBridge.h"
#include "bridge/IQueryHandler.h"
#include "bridge/ITransferProgressReporter.h"
#include "bridge/QueryHandlerContext.h"
#include "bridge/QueryHandlerRegistration.h"
#include "bridge/QueryHandlerRegistry.h"
#include "bridge/UserGrantedPaths.h"
#include "bridge/messages/MessageHandlerCreation.h"
#include "bridge/messages/MessageHandlerList.h"
#include "browser/LocalPages.h"
#include "browser/NavigationPolicy.h"
#include "browser/PendingFilesStore.h"
#include "browser/RouteScript.h"
#include "browser/TestEvents.h"
#include "browser/WebAppUrl.h"
#include "browser/WindowPlacementSaver.h"
#include "browser/host/CefTask.h"
#include "shell/AlertDialog.h"
#include "shell/AppEnvironment.h"
#include "shell/AppSettings.h"
#include "shell/ConfirmDialog.h"
#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/LogText.h"
#include "shell/OsFileExplorer.h"
#include "shell/ProxyAuth.h"

#include "core/config/FvTransfersGlobalConfig.h"
#include "download/DownloadManager.h"
#include "upload/UploadManager.h"

#include <Poco/Exception.h>
#include <Poco/Timestamp.h>
#include <Poco/URI.h>

#include <algorithm>
#include <utility>

using namespace ferrovan;

namespace {

constexpr const char* kPrefix = "FvCefHandler::";
constexpr unsigned kLoadAppDelayMs = 500;
constexpr const char* kNewMessageRoute = "/message/new";
constexpr const char* kNewShareRoute = "/share/new";

FvCefHandler* g_instance = nullptr;

void logAt(Poco::Message::Priority priority, const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), priority, text);
}

void logInfo(const std::string& text)
{
    logAt(Poco::Message::PRIO_INFORMATION, text);
}

void logError(const std::string& text)
{
    logAt(Poco::Message::PRIO_ERROR, text);
}

void logException(const char* function, const std::exception& e)
{
    logError(std::string(kPrefix) + function + ": Exception: " + exceptionText(e));
}

// Runs `body`; an exception is logged under `function` and goes no further.
template <typename Body> bool guarded(const char* function, Body&& body)
{
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        logException(function, e);
    } catch (...) {
        logError(std::string(kPrefix) + function + ": Unknown exception");
    }
    return false;
}

std::int64_t monotonicMs()
{
    return Poco::Timestamp().epochMicroseconds() / 1000;
}

// The handlers that offer interface `id`, in the registry's order.
template <typename Interface> std::vector<Interface*> handlersOffering(int id)
{
    std::vector<Interface*> found;
    for (const auto& entry : QueryHandlerRegistry::getInstance()) {
        Poco::SharedPtr<CQueryHandlerBase> handler = entry.second;
        if (handler.isNull())
            throw Poco::NullPointerException("no handler for " + entry.first);
        const Poco::Any offered = handler->getInterface(id);
        if (!offered.empty())
            found.push_back(Poco::AnyCast<Interface*>(offered));
    }
    return found;
}

} // namespace

FvCefHandler::Parts::Parts()
    : registerQueryHandlers([] { ferrovan::registerQueryHandlers(true); }),
      uploadManager([] { return Poco::SharedPtr<fv_transfers::CUploadManager>(new fv_transfers::CUploadManager); }),
      downloadManager(
          [] { return Poco::SharedPtr<fv_transfers::CDownloadManager>(new fv_transfers::CDownloadManager); })
{
}

FvCefHandler::FvCefHandler(Poco::SharedPtr<AppEnvironment> environment, Poco::SharedPtr<AppSettings> settings,
                           IEventCallback* eventCallback, Parts parts)
    : m_environment(std::move(environment)), m_settings(std::move(settings)), m_eventCallback(eventCallback),
      m_parts(std::move(parts)), m_self(std::make_shared<FvCefHandler*>(this))
{
    g_instance = this;
}

FvCefHandler::~FvCefHandler()
{
    if (g_instance == this)
        g_instance = nullptr;
}

FvCefHandler* FvCefHandler::getInstance()
{
    return g_instance;
}

void FvCefHandler::postLater(std::function<void()> task, std::int64_t delayMs)
{
    std::weak_ptr<FvCefHandler*> self = m_self;
    fvcef::CefPostDelayedTask(
        fvcef::TID_UI,
        [self, task = std::move(task)] {
            if (self.lock())
                task();
        },
        delayMs);
}

// --- life span -------------------------------------------------------------------------------

void FvCefHandler::OnAfterCreated(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    logInfo("Browser instance created!");
    if (!browser)
        return;
    if (browser->IsPopup()) {
        logInfo("Window created is a pop up window, skipping initialization");
        return;
    }
    m_browsers.push_back(browser);
    guarded("OnAfterCreated", [&] {
        ferrovan::messages::createMessageHandlers();
        m_parts.registerQueryHandlers();
        m_uploadManager = m_parts.uploadManager();
        m_downloadManager = m_parts.downloadManager();
        wireBridges(browser);

        const fvcef::CefRefPtr<FvCefHandler> keep(this);
        postLater([this, keep, browser] { loadApp(browser); }, kLoadAppDelayMs);

        m_placementSaver = std::make_unique<WindowPlacementSaver>(
            m_settings, [this](unsigned delayMs, std::function<void()> save) { postLater(std::move(save), delayMs); });
        m_windowEventCatcher = createWindowEventCatcher(browser->GetHost()->GetWindowHandle());
        m_windowEventCatcher->setEventHandler(this);
    });
    logInfo(std::string("Exit: ") + kPrefix + "OnAfterCreated");
}

void FvCefHandler::wireBridges(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    QueryHandlerContext context;
    context.browser = browser;
    context.lifeCycle = this;
    context.uploadManager = m_uploadManager;
    context.downloadManager = m_downloadManager;
    context.mainWindow = m_eventCallback != nullptr ? m_eventCallback->mainWindow() : nullptr;

    // One router serves every bridge name, so query ids are unique across them.
    fvcef::CefMessageRouterConfig config;
    config.web_app_url = getWebAppUrl();
    const fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide> router =
        fvcef::CefMessageRouterBrowserSide::Create(config);
    const QueryHandlerRegistry& registry = QueryHandlerRegistry::getInstance();
    for (const auto& entry : registry) {
        const std::string& name = entry.first;
        Poco::SharedPtr<CQueryHandlerBase> handler = entry.second;
        if (handler.isNull()) {
            logError(std::string(kPrefix) + "OnAfterCreated: handler for object " + name + " is NULL!");
            continue;
        }
        if (!router) {
            logError(std::string(kPrefix) + "OnAfterCreated: Failed to create router for object " + name);
            continue;
        }
        router->AddHandler(name, handler.get());
        handler->setContext(context);
    }
    if (router)
        m_routers.push_back(router);
    if ((m_keptReporter != nullptr || m_keptBar != nullptr) && !registry.empty())
        setProgressReporters(m_keptReporter, m_keptBar);
    ferrovan::messages::MessageHandlerList::getInstance().setContext(context);
}

bool FvCefHandler::DoClose(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    logInfo("Close proces initiated!");
    guarded("DoClose", [&] {
        if (browser && browser->IsPopup())
            return;
        if (m_browsers.size() == 1)
            m_closing = true;
        scheduleCloseWatchdog();
    });
    return false;
}

void FvCefHandler::CloseAllBrowsers(bool forceClose)
{
    logInfo("Closing all browsers!");
    if (!fvcef::CefCurrentlyOn(fvcef::TID_UI)) {
        const fvcef::CefRefPtr<FvCefHandler> keep(this);
        fvcef::CefPostTask(fvcef::TID_UI, [keep, forceClose] { keep->CloseAllBrowsers(forceClose); });
        return;
    }
    guarded("CloseAllBrowsers", [&] {
        // A copy: closing may end a browser at once, which takes it off the list.
        const auto browsers = m_browsers;
        for (const auto& browser : browsers)
            browser->GetHost()->CloseBrowser(forceClose);
    });
}

void FvCefHandler::OnBeforeClose(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    if (m_parts.ignoreBrowserCloseReport)
        return;
    runCloseSteps(browser);
}

void FvCefHandler::runCloseSteps(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    logInfo(std::string(kPrefix) + "OnBeforeClose: Shutting down!");
    if (browser && browser->IsPopup())
        return;
    // Each step on its own: whatever fails, the later ones run and the loop still ends.
    if (!m_closed) {
        m_closed = true;
        m_closing = true;
        m_closeWatchdogArmed = false;
        ++m_closeWatchdogGeneration;
        guarded("OnBeforeClose", [&] {
            if (m_placementSaver)
                m_placementSaver->flush();
        });
        guarded("OnBeforeClose", [&] {
            if (m_windowEventCatcher)
                m_windowEventCatcher->setEventHandler(nullptr);
            m_windowEventCatcher.reset();
        });
        guarded("OnBeforeClose", [&] { notifyAppShutdown(); });
        guarded("OnBeforeClose", [&] {
            for (const auto& router : routers())
                router->OnBeforeClose(browser);
        });
        m_routers.clear();
        guarded("OnBeforeClose", [&] { QueryHandlerRegistry::getInstance().clear(); });
        guarded("OnBeforeClose", [&] { ferrovan::messages::MessageHandlerList::getInstance().clear(); });
        guarded("OnBeforeClose", [&] { BridgeSleepCounter::getInstance().releaseAll(); });
        m_uploadManager = nullptr;
        m_downloadManager = nullptr;
    }
    const auto same = std::find_if(m_browsers.begin(), m_browsers.end(),
                                   [&](const auto& listed) { return browser && listed->IsSame(browser); });
    if (same != m_browsers.end())
        m_browsers.erase(same);
    if (m_browsers.empty())
        fvcef::cef_quit_message_loop();
}

// --- navigation and loads --------------------------------------------------------------------

std::string FvCefHandler::getWebAppUrl() const
{
    if (m_environment.isNull())
        throw Poco::NullPointerException("no environment");
    return ferrovan::getWebAppUrl(*m_environment);
}

void FvCefHandler::getLocalPageUrls(std::vector<std::string>& urls)
{
    ferrovan::getLocalPageUrls(urls);
}

bool FvCefHandler::isNavigationAllowed(const NavigationRequest& request) const
{
    bool allowed = false;
    guarded("OnBeforeBrowse", [&] {
        std::vector<std::string> localPages;
        getLocalPageUrls(localPages);
        const NavigationDecision decision = decideNavigation(request, getWebAppUrl(), localPages);
        if (!decision.message.empty())
            logAt(decision.priority, decision.message);
        allowed = decision.allow;
    });
    return allowed;
}

bool FvCefHandler::OnBeforeBrowse(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                                  const fvcef::CefString& url, bool user_gesture, bool)
{
    NavigationRequest request;
    request.stage = NavigationStage::kAction;
    request.url = url.ToString();
    request.userGesture = user_gesture;
    if (!isNavigationAllowed(request))
        return true;
    guarded("OnBeforeBrowse", [&] {
        for (const auto& router : routers())
            router->OnBeforeBrowse(browser, frame);
    });
    return false;
}

bool FvCefHandler::OnResourceResponse(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefFrame>,
                                      const fvcef::CefString& url, bool is_main_frame_main_resource, bool)
{
    NavigationRequest request;
    request.stage = NavigationStage::kResponse;
    request.url = url.ToString();
    request.mainFrame = is_main_frame_main_resource;
    const bool cancel = !isNavigationAllowed(request);
    if (!cancel && is_main_frame_main_resource)
        // A new document replaces the page: its holds on sleep go with it.
        guarded("OnBeforeBrowse", [] { BridgeSleepCounter::getInstance().releaseAll(); });
    return cancel;
}

void FvCefHandler::OnOpenNewWindow(fvcef::CefRefPtr<fvcef::CefBrowser>, const fvcef::CefString& url, bool)
{
    // No window of the page's own: web pages go to the desktop's browser, anything else nowhere.
    guarded("OnBeforePopup", [&] {
        const std::string target = url.ToString();
        if (!mayOpenInSystemBrowser(target)) {
            logError("Application tried to open a window for URL: " + urlForLog(target) + ". Refused.");
            return;
        }
        logInfo("Opening in the system browser: " + urlForLog(target));
        createOsFileExplorer()->open(target);
    });
}

void FvCefHandler::loadUrl(fvcef::CefRefPtr<fvcef::CefBrowser> browser, const std::string& url)
{
    if (!browser)
        return;
    const fvcef::CefRefPtr<fvcef::CefFrame> frame = browser->GetMainFrame();
    if (frame)
        frame->LoadURL(url);
}

void FvCefHandler::loadApp(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    logInfo(std::string("Enter: ") + kPrefix + "loadApp");
    guarded("loadApp", [&] {
        if (m_closing)
            return;
        const std::string url = getWebAppUrl();
        logInfo("Trying to load main app using URL: " + urlForLog(url));
        loadUrl(browser, url);
    });
    logInfo(std::string("Exit: ") + kPrefix + "loadApp");
}

bool FvCefHandler::isWebAppMainFrameUrl(const std::string& url) const
{
    const std::string webAppUrl = getWebAppUrl();
    return !webAppUrl.empty() && url == webAppUrl;
}

void FvCefHandler::showErrorPage(fvcef::CefRefPtr<fvcef::CefBrowser> browser)
{
    // The page offers to try the web application again.
    std::string retry;
    Poco::URI::encode(getWebAppUrl(), "!#$&'()*+,/:;=?@[]%", retry);
    loadUrl(browser, localPageUrl(kErrorPage) + "?retry=" + retry);
}

void FvCefHandler::OnLoadError(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame>,
                               fvcef::cef_errorcode_t errorCode, const fvcef::CefString& errorText,
                               const fvcef::CefString& failedUrl)
{
    guarded("OnLoadError", [&] {
        logError("Failed to load frame. Error code: " + std::to_string(static_cast<int>(errorCode)) +
                 ". Error description: " + printableForLog(errorText.ToString()) +
                 ". Failed URL: " + urlForLog(failedUrl.ToString()));
        if (m_closing || !isWebAppMainFrameUrl(failedUrl.ToString()))
            return;
        logError("Failed to load web app!");
        showErrorPage(browser);
    });
}

void FvCefHandler::OnLoadEnd(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                             int httpStatusCode)
{
    guarded("OnLoadEnd", [&] {
        if (!m_webAppLoaded && frame && isUnderWebApp(frame->GetURL().ToString(), getWebAppUrl())) {
            m_webAppLoaded = true;
            const long long sinceStart = millisecondsSinceStart();
            logInfo("The web application's first load ended " + std::to_string(sinceStart) +
                    " ms after the program started");
            Json::Value data;
            data["status"] = httpStatusCode;
            logTestEvent("web-app-loaded", data);
        }
        if (m_eventCallback != nullptr)
            m_eventCallback->onPageLoaded(browser, frame, httpStatusCode);
    });
}

void FvCefHandler::OnRenderProcessTerminated(fvcef::CefRefPtr<fvcef::CefBrowser> browser,
                                             fvcef::cef_termination_status_t status)
{
    guarded("OnRenderProcessTerminated", [&] {
        for (const auto& router : routers())
            router->OnRenderProcessTerminated(browser);
    });
    guarded("OnRenderProcessTerminated", [&] { BridgeSleepCounter::getInstance().releaseAll(); });
    if (m_closing || !browser)
        return;
    guarded("OnRenderProcessTerminated", [&] {
        const std::int64_t now = monotonicMs();
        const bool again = m_lastProcessEndMs != 0 && now - m_lastProcessEndMs < m_parts.processEndWindowMs;
        m_lastProcessEndMs = now;
        logError("The page's process ended (status " + std::to_string(static_cast<int>(status)) + ")" +
                 (again ? "; it ended again soon after a reload, showing the error page." : "; reloading the page."));
        if (again)
            showErrorPage(browser);
        else
            loadUrl(browser, getWebAppUrl());
    });
}

// --- dialogs, credentials, drags, messages ----------------------------------------------------

bool FvCefHandler::OnJSDialog(fvcef::CefRefPtr<fvcef::CefBrowser>, const fvcef::CefString&,
                              fvcef::cef_jsdialog_type_t dialog_type, const fvcef::CefString& message_text,
                              fvcef::CefRefPtr<fvcef::CefJSDialogCallback> callback)
{
    bool handled = false;
    guarded("OnJSDialog", [&] {
        INativeUiDataHolder* parent = m_eventCallback != nullptr ? m_eventCallback->mainWindow() : nullptr;
        if (dialog_type == fvcef::JSDIALOGTYPE_ALERT) {
            const std::unique_ptr<IAlertDialog> dialog = createAlertDialog();
            if (!dialog)
                return;
            dialog->show(message_text.ToString(), 0, parent);
            callback->Continue(true, "");
            handled = true;
        } else if (dialog_type == fvcef::JSDIALOGTYPE_CONFIRM) {
            const std::unique_ptr<IConfirmDialog> dialog = createConfirmDialog(parent);
            if (!dialog)
                return;
            const bool answer = dialog->confirm(message_text.ToString(), kWarningAlert);
            callback->Continue(answer, "");
            handled = true;
        }
    });
    return handled;
}

bool FvCefHandler::GetAuthCredentials(fvcef::CefRefPtr<fvcef::CefBrowser> browser, bool isProxy,
                                      const fvcef::CefString& host, int, const fvcef::CefString& realm,
                                      const fvcef::CefString&, fvcef::CefRefPtr<fvcef::CefAuthCallback> callback)
{
    logInfo(std::string("Received request from CEF for credentials, proxy: ") + (isProxy ? "1" : "0"));
    if (!isProxy) {
        logAt(Poco::Message::PRIO_WARNING, "CEF reports that authentication is required, though it's not proxy "
                                           "authentication, skipping...");
        return false;
    }
    const std::string givenRealm = realm.ToString();
    if (givenRealm == m_proxyRealm && !m_proxyUser.empty() && m_savedCredentialUses == 0) {
        logInfo("CEF requests proxy credentials, but we have saved credentials for that realm");
        callback->Continue(m_proxyUser, m_proxyPassword);
        ++m_savedCredentialUses;
        return true;
    }
    m_savedCredentialUses = 0;
    promptProxyCredentials(browser, host.ToString(), givenRealm, callback);
    return true;
}

void FvCefHandler::promptProxyCredentials(fvcef::CefRefPtr<fvcef::CefBrowser>, const std::string& host,
                                          const std::string& realm, fvcef::CefRefPtr<fvcef::CefAuthCallback> callback)
{
    bool answered = false;
    guarded("promptProxyCredentials", [&] {
        const std::unique_ptr<IProxyAuth> prompt = createProxyAuth();
        std::string user;
        std::string password;
        INativeUiDataHolder* parent = m_eventCallback != nullptr ? m_eventCallback->mainWindow() : nullptr;
        if (!prompt || !prompt->promptCredentials(parent, host, realm, user, password)) {
            logError("Failed to obtain proxy credentials!");
            return;
        }
        m_proxyUser = user;
        m_proxyPassword = password;
        m_proxyRealm = realm;
        callback->Continue(user, password);
        answered = true;
        fv_transfers::CFvTransfersGlobalConfig::getInstance()->setProxyCredentials(user, password);
    });
    // An unanswered challenge would hold the load for ever.
    if (!answered)
        callback->Cancel();
}

bool FvCefHandler::OnDragEnter(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefDragData> dragData,
                               fvcef::cef_drag_operations_mask_t)
{
    logInfo(std::string(kPrefix) + "OnDragEnter: Drag detected!");
    bool cancel = true;
    guarded("OnDragEnter", [&] {
        DragRecord record;
        if (dragData && dragData->IsFile()) {
            record.kind = DragKind::Files;
            std::vector<fvcef::CefString> names;
            dragData->GetFileNames(names);
            std::vector<Poco::Path> paths;
            for (const auto& name : names)
                paths.emplace_back(name.ToString());
            record.payload = paths;
        } else if (dragData && dragData->IsFragment()) {
            record.kind = DragKind::Fragment;
        }
        logInfo("Drag data type: " + std::to_string(static_cast<int>(record.kind)));
        if (record.kind == DragKind::Fragment) {
            logInfo("Html fragment is being dragged, allow JS code tofully process this operation");
            cancel = false;
            return;
        }
        bool taken = false;
        for (IDragHandler* handler : handlersOffering<IDragHandler>(kDragHandlerInterface))
            taken = handler->filesDragged(record) || taken;
        cancel = !taken;
    });
    return cancel;
}

bool FvCefHandler::OnProcessMessageReceived(fvcef::CefRefPtr<fvcef::CefBrowser> browser,
                                            fvcef::CefRefPtr<fvcef::CefFrame> frame,
                                            fvcef::cef_process_id_t source_process,
                                            fvcef::CefRefPtr<fvcef::CefProcessMessage> message)
{
    if (!browser || !message || getInstance() == nullptr)
        return false;
    if (m_closing) {
        logInfo(std::string(kPrefix) + "OnProcessMessageReceived: message received while closing the app!");
        return false;
    }
    bool taken = false;
    guarded("OnProcessMessageReceived", [&] {
        if (ferrovan::messages::MessageHandlerList::getInstance().dispatchMessage(message)) {
            taken = true;
            return;
        }
        for (const auto& router : routers())
            taken = router->OnProcessMessageReceived(browser, frame, source_process, message) || taken;
    });
    return taken;
}

// --- the web application's life ----------------------------------------------------------------

void FvCefHandler::navigateToAddress(const std::string& path)
{
    guarded("navigateToAddress", [&] {
        const fvcef::CefRefPtr<fvcef::CefBrowser> browser = mainBrowser();
        if (browser && m_appInitialized) {
            const fvcef::CefRefPtr<fvcef::CefFrame> frame = browser->GetMainFrame();
            if (!frame) {
                logError("Failed to navigate to reuqsted URL, since there is no active frame!");
                return;
            }
            logInfo("Navigating to address " + printableForLog(path));
            frame->ExecuteJavaScript(routeNavigationScript(path), frame->GetURL(), 0);
            Json::Value data;
            data["route"] = path;
            logTestEvent("route", data);
            return;
        }
        logError("Failed to navigate to requested URL, since there are no active browsers or app is not initialized "
                 "yet!");
        m_pendingRequests.push_back({0, path});
    });
}

void FvCefHandler::navigateToNewMessage()
{
    navigateToAddress(kNewMessageRoute);
}

void FvCefHandler::navigateToNewShare()
{
    navigateToAddress(kNewShareRoute);
}

void FvCefHandler::storePendingFiles(const std::list<std::string>& paths, bool complete, bool defer)
{
    // The route the same hand-over asked for a moment ago travels with its files.
    std::string route;
    if (!m_pendingRequests.empty() && m_pendingRequests.back().type == 0) {
        route = m_pendingRequests.back().route;
        m_pendingRequests.pop_back();
    }
    PendingFilesStore::getInstance().addHandOver(route, paths, complete, defer);
}

void FvCefHandler::filesDropped(const std::list<std::string>& paths, bool complete, bool defer)
{
    guarded("filesDropped", [&] {
        // The user handed these over: the page may upload them.
        for (const std::string& path : paths)
            UserGrantedPaths::getInstance().grant(path);
        for (IDragHandler* handler : handlersOffering<IDragHandler>(kDragHandlerInterface))
            handler->filesDropped(paths, complete, defer);
        Json::Value data;
        data["files"] = static_cast<Json::UInt64>(paths.size());
        data["complete"] = complete;
        data["defer"] = defer;
        logTestEvent("hand-over", data);
    });
}

void FvCefHandler::onStartup()
{
    logInfo("onStartup called! App loaded");
    guarded("onStartup", [&] {
        if (!m_lifecycleStarted) {
            m_lifecycleStarted = true;
            for (auto* handler : handlersOffering<IAppLifecycleEventsHandler>(kAppLifecycleEventsHandlerInterface))
                handler->onAppStartup();
        }
        m_appInitialized = true;
        while (!m_pendingRequests.empty()) {
            const PendingWebAppRequest request = m_pendingRequests.front();
            m_pendingRequests.pop_front();
            if (request.type == 0)
                navigateToAddress(request.route);
        }
        deliverHandOvers();
    });
    logInfo(std::string("Exit: ") + kPrefix + "onStartup");
}

void FvCefHandler::deliverHandOvers()
{
    // Taken, not read: a reload that reports ready again must not receive them twice.
    const std::vector<FilesHandOver> handOvers = PendingFilesStore::getInstance().takeAll();
    for (const FilesHandOver& handOver : handOvers) {
        if (!handOver.route.empty())
            navigateToAddress(handOver.route);
        logInfo("Initial files container has " + std::to_string(handOver.paths.size()) + " files in it!");
        filesDropped(handOver.paths, handOver.complete, handOver.defer);
    }
}

void FvCefHandler::onShutdown()
{
    guarded("onShutdown", [&] {
        logInfo(std::string(kPrefix) + "onShutdown: Shutdown was initiated by the app!");
        // Once the page's query has returned: the close releases the handler that asked.
        postLater([this] { CloseAllBrowsers(false); }, 0);
    });
}

void FvCefHandler::notifyAppShutdown()
{
    for (auto* handler : handlersOffering<IAppLifecycleEventsHandler>(kAppLifecycleEventsHandlerInterface))
        handler->onAppShutdown();
}

void FvCefHandler::setProgressReporters(GlobalTransferProgressReporter* reporter, IGlobalProgressBar* bar)
{
    if (QueryHandlerRegistry::getInstance().empty()) {
        m_keptReporter = reporter;
        m_keptBar = bar;
        return;
    }
    for (auto* handler : handlersOffering<ITransferProgressReporter>(kTransferProgressReporterInterface))
        handler->setProgressCallback(reporter);
    for (auto* handler : handlersOffering<IProgressBarBridge>(kProgressBarBridgeInterface))
        handler->setProgressBar(bar);
}

std::list<fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide>> FvCefHandler::routers() const
{
    // A copy: a router's handler may close the browser, and with it empty the list, meanwhile.
    return m_routers;
}

fvcef::CefRefPtr<fvcef::CefBrowser> FvCefHandler::mainBrowser() const
{
    return m_browsers.empty() ? nullptr : m_browsers.front();
}

// --- close watchdog ------------------------------------------------------------------------------

void FvCefHandler::scheduleCloseWatchdog()
{
    // A new close replaces the watch of an earlier one.
    const std::uint64_t generation = ++m_closeWatchdogGeneration;
    m_closeWatchdogArmed = true;
    const fvcef::CefRefPtr<FvCefHandler> keep(this);
    postLater([this, keep, generation] { onCloseTask(generation); }, m_parts.closeWatchdogMs);
}

void FvCefHandler::onCloseTask(std::uint64_t generation)
{
    guarded("onCloseTask", [&] {
        if (!m_closeWatchdogArmed || generation != m_closeWatchdogGeneration || m_closed || m_browsers.empty())
            return;
        logAt(Poco::Message::PRIO_WARNING,
              "FvCefHandler::OnBeforeClose has not been called within the expected period, calling it manually!");
        runCloseSteps(m_browsers.front());
    });
}

// --- window placement ------------------------------------------------------------------------------

void FvCefHandler::onWindowResized(int width, int height, bool maximized)
{
    if (m_settings.isNull())
        throw Poco::NullPointerException("no settings");
    if (m_placementSaver)
        m_placementSaver->onWindowResized(width, height, maximized);
}

void FvCefHandler::onWindowMoved(int top, int left)
{
    if (m_settings.isNull())
        throw Poco::NullPointerException("no settings");
    if (m_placementSaver)
        m_placementSaver->onWindowMoved(top, left);
}
