#include "browser/host/linux/CefBrowserLinux.h"

#include "browser/BrowserLog.h"
#include "browser/host/linux/CefAuthCallbackLinux.h"
#include "browser/host/linux/CefDragDataLinux.h"
#include "browser/host/linux/CefJSDialogCallbackLinux.h"
#include "browser/host/linux/CefProcessMessageLinux.h"
#include "browser/host/linux/ContextMenuFilter.h"
#include "browser/host/linux/WebContextLinux.h"
#include "browser/host/linux/webext/BridgeProtocol.h"
#include "shell/LogText.h"
#include "shell/UiTaskQueue.h"

#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ferrovan {

namespace {

constexpr const char* kWhere = "ferrovan::CefBrowserLinux";

int nextIdentifier()
{
    static std::atomic<int> last{0};
    return ++last;
}

// Nothing may unwind through WebKit's frames.
void guarded(const char* signal, const std::function<void()>& step)
{
    runLoggingFailure(step, std::string(kWhere) + "::" + signal);
}

fvcef::cef_errorcode_t errorCodeOf(const GError* error)
{
    if (error->domain == WEBKIT_NETWORK_ERROR) {
        switch (error->code) {
        case WEBKIT_NETWORK_ERROR_CANCELLED: return fvcef::ERR_ABORTED;
        case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST: return fvcef::ERR_FILE_NOT_FOUND;
        case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL: return fvcef::ERR_UNKNOWN_URL_SCHEME;
        case WEBKIT_NETWORK_ERROR_TRANSPORT: return fvcef::ERR_CONNECTION_FAILED;
        default: return fvcef::ERR_FAILED;
        }
    }
    // The navigation was ignored (by the client, or as a download).
    if (error->domain == WEBKIT_POLICY_ERROR)
        return fvcef::ERR_ABORTED;
    if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_NOT_FOUND)
        return fvcef::ERR_FILE_NOT_FOUND;
    return fvcef::ERR_FAILED;
}

fvcef::cef_termination_status_t statusOf(WebKitWebProcessTerminationReason reason)
{
    switch (reason) {
    case WEBKIT_WEB_PROCESS_CRASHED: return fvcef::TS_PROCESS_CRASHED;
    case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT: return fvcef::TS_PROCESS_OOM;
    case WEBKIT_WEB_PROCESS_TERMINATED_BY_API: return fvcef::TS_PROCESS_WAS_KILLED;
    }
    return fvcef::TS_ABNORMAL_TERMINATION;
}

const char* schemeName(WebKitAuthenticationScheme scheme)
{
    switch (scheme) {
    case WEBKIT_AUTHENTICATION_SCHEME_HTTP_BASIC: return "basic";
    case WEBKIT_AUTHENTICATION_SCHEME_HTTP_DIGEST: return "digest";
    case WEBKIT_AUTHENTICATION_SCHEME_NTLM: return "ntlm";
    case WEBKIT_AUTHENTICATION_SCHEME_NEGOTIATE: return "negotiate";
    default: return "";
    }
}

std::string text(const char* value)
{
    return value != nullptr ? value : "";
}

// GLib's own names for enumeration and flag values, freed here.
std::string valueName(gchar* name)
{
    std::string result = text(name);
    g_free(name);
    return result;
}

void logLoadFailure(const char* uri, const GError* error)
{
    BrowserLog::write(Poco::Message::PRIO_WARNING,
                      "Load failed: " + urlForLog(text(uri)) + ": " + text(g_quark_to_string(error->domain)) + " " +
                          std::to_string(error->code) + ": " + urlForLog(text(error->message)));
}

Poco::Message::Priority priorityOf(bridge::ConsoleLevel level)
{
    switch (level) {
    case bridge::ConsoleLevel::Debug: return Poco::Message::PRIO_DEBUG;
    case bridge::ConsoleLevel::Warning: return Poco::Message::PRIO_WARNING;
    case bridge::ConsoleLevel::Error: return Poco::Message::PRIO_ERROR;
    default: return Poco::Message::PRIO_INFORMATION;
    }
}

// The page's console line, when the extension was asked for them.
void logConsoleLine(WebKitUserMessage* message)
{
    bridge::ConsoleMessage line;
    if (!bridge::fromVariant(webkit_user_message_get_parameters(message), line))
        return;
    BrowserLog::write(priorityOf(line.level), "Console: " + printableForLog(line.text) + " (" + urlForLog(line.source) +
                                                  ":" + std::to_string(line.line) + ")");
}

WebKitSettings* newViewSettings(const BrowserSettings& settings)
{
    WebKitSettings* view = webkit_settings_new();
    if (!settings.userAgent.empty())
        webkit_settings_set_user_agent(view, settings.userAgent.c_str());
    webkit_settings_set_enable_developer_extras(view, settings.developerExtras);
    // Every window the page opens reaches the client, which decides by the user gesture.
    webkit_settings_set_javascript_can_open_windows_automatically(view, TRUE);
    return view;
}

constexpr const char* kUriList = "text/uri-list";

std::vector<std::string> targetsOf(GdkDragContext* context)
{
    std::vector<std::string> targets;
    for (GList* target = gdk_drag_context_list_targets(context); target != nullptr; target = target->next) {
        gchar* name = gdk_atom_name(GDK_POINTER_TO_ATOM(target->data));
        targets.emplace_back(name);
        g_free(name);
    }
    return targets;
}

fvcef::cef_drag_operations_mask_t operationsOf(GdkDragContext* context)
{
    const GdkDragAction actions = gdk_drag_context_get_actions(context);
    unsigned mask = fvcef::DRAG_OPERATION_NONE;
    if ((actions & GDK_ACTION_COPY) != 0)
        mask |= fvcef::DRAG_OPERATION_COPY;
    if ((actions & GDK_ACTION_LINK) != 0)
        mask |= fvcef::DRAG_OPERATION_LINK;
    if ((actions & GDK_ACTION_MOVE) != 0)
        mask |= fvcef::DRAG_OPERATION_MOVE;
    return static_cast<fvcef::cef_drag_operations_mask_t>(mask);
}

} // namespace

fvcef::CefRefPtr<CefBrowserLinux> CefBrowserLinux::create(const WebContextLinux& context, GtkWindow* window,
                                                          fvcef::CefRefPtr<fvcef::CefClient> client,
                                                          const std::string& url, GtkBox* box)
{
    if (!client)
        throw std::invalid_argument("A browser needs a client");
    WebKitSettings* settings = newViewSettings(context.config().settings);
    auto* view = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context.get(), "settings", settings, nullptr));
    g_object_unref(settings);
    if (box != nullptr)
        gtk_box_pack_start(box, GTK_WIDGET(view), TRUE, TRUE, 0);
    else
        gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    gtk_widget_show(GTK_WIDGET(view));

    fvcef::CefRefPtr<CefBrowserLinux> browser(
        new CefBrowserLinux(view, window, std::move(client), context.config().settings.developerExtras));
    browser->m_self = browser;
    browser->connectSignals();
    guarded("OnAfterCreated", [&] { browser->m_client->OnAfterCreated(browser.get()); });
    if (browser->m_frame)
        browser->m_frame->LoadURL(url);
    return browser;
}

CefBrowserLinux::CefBrowserLinux(WebKitWebView* view, GtkWindow* window, fvcef::CefRefPtr<fvcef::CefClient> client,
                                 bool developerExtras)
    : m_view(view), m_window(window), m_client(std::move(client)), m_frame(new CefFrameLinux(view)),
      m_id(nextIdentifier()), m_developerExtras(developerExtras)
{
}

CefBrowserLinux::~CefBrowserLinux()
{
    forgetDrag();
}

void CefBrowserLinux::connectSignals()
{
    g_signal_connect(m_window, "delete-event", G_CALLBACK(onDeleteEvent), this);
    g_signal_connect(m_view, "close", G_CALLBACK(onViewClose), this);
    g_signal_connect(m_view, "destroy", G_CALLBACK(onViewDestroy), this);
    g_signal_connect(m_view, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(m_view, "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(m_view, "load-failed-with-tls-errors", G_CALLBACK(onLoadFailedWithTlsErrors), this);
    g_signal_connect(m_view, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(m_view, "create", G_CALLBACK(onCreate), this);
    g_signal_connect(m_view, "authenticate", G_CALLBACK(onAuthenticate), this);
    g_signal_connect(m_view, "script-dialog", G_CALLBACK(onScriptDialog), this);
    g_signal_connect(m_view, "context-menu", G_CALLBACK(onContextMenu), this);
    g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(onWebProcessTerminated), this);
    g_signal_connect(m_view, "user-message-received", G_CALLBACK(onUserMessage), this);
    // Before the view's own drag handling, which these stop for a drag it must not see.
    g_signal_connect(m_view, "drag-motion", G_CALLBACK(onDragMotion), this);
    g_signal_connect(m_view, "drag-leave", G_CALLBACK(onDragLeave), this);
    g_signal_connect(m_view, "drag-drop", G_CALLBACK(onDragDrop), this);
    g_signal_connect(m_view, "drag-data-received", G_CALLBACK(onDragDataReceived), this);
}

fvcef::CefRefPtr<fvcef::CefBrowserHost> CefBrowserLinux::GetHost()
{
    return this;
}

fvcef::CefRefPtr<fvcef::CefFrame> CefBrowserLinux::GetMainFrame()
{
    return m_view != nullptr ? m_frame : nullptr;
}

int CefBrowserLinux::GetIdentifier()
{
    return m_id;
}

bool CefBrowserLinux::IsPopup()
{
    return false;
}

bool CefBrowserLinux::IsSame(fvcef::CefRefPtr<fvcef::CefBrowser> that)
{
    return that && that->GetIdentifier() == m_id;
}

void CefBrowserLinux::CloseBrowser(bool force_close)
{
    if (m_view == nullptr || m_closing)
        return;
    if (force_close)
        proceedClose();
    else
        webkit_web_view_try_close(m_view);
}

void* CefBrowserLinux::GetWindowHandle()
{
    return m_view != nullptr ? m_window : nullptr;
}

void CefBrowserLinux::proceedClose()
{
    if (m_view == nullptr || m_closing)
        return;
    m_closing = true;
    bool clientCloses = false;
    guarded("DoClose", [&] { clientCloses = m_client->DoClose(this); });
    // The client closes the window itself; the view's end then finishes the close.
    if (clientCloses)
        return;
    GtkWindow* window = m_window;
    finishClose();
    gtk_widget_destroy(GTK_WIDGET(window));
}

void CefBrowserLinux::finishClose()
{
    if (m_view == nullptr)
        return;
    // Whatever the client does now, this object stays until the call ends.
    const fvcef::CefRefPtr<CefBrowserLinux> keep = std::move(m_self);
    g_signal_handlers_disconnect_by_data(m_view, this);
    g_signal_handlers_disconnect_by_data(m_window, this);
    m_view = nullptr;
    forgetDrag();
    m_frame->detach();
    guarded("OnBeforeClose", [&] { m_client->OnBeforeClose(this); });
}

gboolean CefBrowserLinux::onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self)
{
    // The window stays until the page agreed to close.
    static_cast<CefBrowserLinux*>(self)->CloseBrowser(false);
    return TRUE;
}

void CefBrowserLinux::onViewClose(WebKitWebView*, gpointer self)
{
    static_cast<CefBrowserLinux*>(self)->proceedClose();
}

void CefBrowserLinux::onViewDestroy(GtkWidget*, gpointer self)
{
    static_cast<CefBrowserLinux*>(self)->finishClose();
}

void CefBrowserLinux::onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self)
{
    auto* browser = static_cast<CefBrowserLinux*>(self);
    if (event == WEBKIT_LOAD_STARTED) {
        browser->m_loadFailed = false;
        return;
    }
    // A failed load was reported as such.
    if (event != WEBKIT_LOAD_FINISHED || browser->m_loadFailed)
        return;
    int status = 0;
    WebKitWebResource* resource = webkit_web_view_get_main_resource(view);
    WebKitURIResponse* response = resource != nullptr ? webkit_web_resource_get_response(resource) : nullptr;
    if (response != nullptr)
        status = static_cast<int>(webkit_uri_response_get_status_code(response));
    guarded("OnLoadEnd", [&] { browser->m_client->OnLoadEnd(browser, browser->m_frame.get(), status); });
}

void CefBrowserLinux::reportLoadError(fvcef::cef_errorcode_t code, const std::string& errorText, const std::string& url)
{
    m_loadFailed = true;
    guarded("OnLoadError", [&] { m_client->OnLoadError(this, m_frame.get(), code, errorText, url); });
}

gboolean CefBrowserLinux::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self)
{
    logLoadFailure(uri, error);
    static_cast<CefBrowserLinux*>(self)->reportLoadError(errorCodeOf(error), text(error->message), text(uri));
    // No built-in error page: the client decides what shows instead.
    return TRUE;
}

gboolean CefBrowserLinux::onLoadFailedWithTlsErrors(WebKitWebView*, gchar* uri, GTlsCertificate*,
                                                    GTlsCertificateFlags errors, gpointer self)
{
    BrowserLog::write(Poco::Message::PRIO_WARNING,
                      "Certificate refused: " + urlForLog(text(uri)) + ": " +
                          valueName(g_flags_to_string(G_TYPE_TLS_CERTIFICATE_FLAGS, errors)));
    static_cast<CefBrowserLinux*>(self)->reportLoadError(fvcef::ERR_CERT_INVALID, "The certificate is not trusted",
                                                         text(uri));
    return TRUE;
}

gboolean CefBrowserLinux::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                         gpointer self)
{
    auto* browser = static_cast<CefBrowserLinux*>(self);
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
        browser->decideNavigation(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        return TRUE;
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const std::string url = text(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
        const bool gesture = webkit_navigation_action_is_user_gesture(action);
        webkit_policy_decision_ignore(decision);
        guarded("OnOpenNewWindow", [&] { browser->m_client->OnOpenNewWindow(browser, url, gesture); });
        return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
        browser->decideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
        return TRUE;
    }
    return FALSE;
}

void CefBrowserLinux::decideNavigation(WebKitNavigationPolicyDecision* decision)
{
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(decision);
    const std::string url = text(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
    bool cancel = isFileUrl(url);
    if (!cancel)
        guarded("OnBeforeBrowse", [&] {
            cancel =
                m_client->OnBeforeBrowse(this, m_frame.get(), url, webkit_navigation_action_is_user_gesture(action),
                                         webkit_navigation_action_is_redirect(action));
        });
    if (cancel)
        webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
    else
        webkit_policy_decision_use(WEBKIT_POLICY_DECISION(decision));
}

void CefBrowserLinux::decideResponse(WebKitResponsePolicyDecision* decision)
{
    const std::string url = text(webkit_uri_request_get_uri(webkit_response_policy_decision_get_request(decision)));
    const bool mainResource = webkit_response_policy_decision_is_main_frame_main_resource(decision);
    const bool canShow = webkit_response_policy_decision_is_mime_type_supported(decision);
    bool cancel = false;
    guarded("OnResourceResponse",
            [&] { cancel = m_client->OnResourceResponse(this, m_frame.get(), url, mainResource, canShow); });
    // What the view cannot show would become a download.
    if (cancel || !canShow)
        webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
    else
        webkit_policy_decision_use(WEBKIT_POLICY_DECISION(decision));
}

GtkWidget* CefBrowserLinux::onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self)
{
    auto* browser = static_cast<CefBrowserLinux*>(self);
    const std::string url = text(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
    const bool gesture = webkit_navigation_action_is_user_gesture(action);
    guarded("OnOpenNewWindow", [&] { browser->m_client->OnOpenNewWindow(browser, url, gesture); });
    return nullptr;
}

gboolean CefBrowserLinux::onAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer self)
{
    auto* browser = static_cast<CefBrowserLinux*>(self);
    fvcef::CefRefPtr<CefAuthCallbackLinux> callback(new CefAuthCallbackLinux(request));
    bool taken = false;
    guarded("GetAuthCredentials", [&] {
        taken = browser->m_client->GetAuthCredentials(browser, webkit_authentication_request_is_for_proxy(request),
                                                      text(webkit_authentication_request_get_host(request)),
                                                      static_cast<int>(webkit_authentication_request_get_port(request)),
                                                      text(webkit_authentication_request_get_realm(request)),
                                                      schemeName(webkit_authentication_request_get_scheme(request)),
                                                      callback);
    });
    if (!taken)
        callback->Cancel();
    // Answered through the callback, now or when it is released.
    return TRUE;
}

gboolean CefBrowserLinux::onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self)
{
    auto* browser = static_cast<CefBrowserLinux*>(self);
    fvcef::cef_jsdialog_type_t type;
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_ALERT: type = fvcef::JSDIALOGTYPE_ALERT; break;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM: type = fvcef::JSDIALOGTYPE_CONFIRM; break;
    default:
        // Prompts and the leave-page question keep the view's own dialogs.
        return FALSE;
    }
    fvcef::CefRefPtr<CefJSDialogCallbackLinux> callback(new CefJSDialogCallbackLinux(dialog));
    bool taken = false;
    const std::string origin = text(webkit_web_view_get_uri(browser->m_view));
    const std::string message = text(webkit_script_dialog_get_message(dialog));
    guarded("OnJSDialog", [&] { taken = browser->m_client->OnJSDialog(browser, origin, type, message, callback); });
    if (!taken)
        callback->release();
    return taken;
}

gboolean CefBrowserLinux::onContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*,
                                        gpointer self)
{
    filterContextMenu(menu, static_cast<CefBrowserLinux*>(self)->m_developerExtras);
    return FALSE;
}

void CefBrowserLinux::onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self)
{
    auto* browser = static_cast<CefBrowserLinux*>(self);
    BrowserLog::write(
        Poco::Message::PRIO_ERROR,
        "Page process ended: " + valueName(g_enum_to_string(WEBKIT_TYPE_WEB_PROCESS_TERMINATION_REASON, reason)) +
            " at " + urlForLog(text(webkit_web_view_get_uri(browser->m_view))));
    guarded("OnRenderProcessTerminated",
            [&] { browser->m_client->OnRenderProcessTerminated(browser, statusOf(reason)); });
}

gboolean CefBrowserLinux::onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer self)
{
    auto* browser = static_cast<CefBrowserLinux*>(self);
    if (g_strcmp0(webkit_user_message_get_name(message), bridge::kConsoleMessage) == 0) {
        // Only a page process told to forward its console sends these.
        if (browser->m_developerExtras)
            logConsoleLine(message);
        return TRUE;
    }
    fvcef::CefRefPtr<CefProcessMessageLinux> wrapped(new CefProcessMessageLinux(message));
    bool taken = false;
    guarded("OnProcessMessageReceived", [&] {
        taken =
            browser->m_client->OnProcessMessageReceived(browser, browser->m_frame.get(), fvcef::PID_RENDERER, wrapped);
    });
    return taken;
}

void CefBrowserLinux::beginDrag(GdkDragContext* context, guint time)
{
    forgetDrag();
    m_drag.context = GDK_DRAG_CONTEXT(g_object_ref(context));
    m_drag.time = time;
    const bool fromThisView = gtk_drag_get_source_widget(context) == GTK_WIDGET(m_view);
    switch (CefDragDataLinux::classify(fromThisView, targetsOf(context))) {
    case CefDragDataLinux::Offer::UriList:
        gtk_drag_get_data(GTK_WIDGET(m_view), context, gdk_atom_intern_static_string(kUriList), m_drag.time);
        break;
    case CefDragDataLinux::Offer::Fragment: decideDrag(new CefDragDataLinux(CefDragDataLinux::Kind::Fragment)); break;
    case CefDragDataLinux::Offer::Other: decideDrag(new CefDragDataLinux(CefDragDataLinux::Kind::Other)); break;
    }
}

void CefBrowserLinux::decideDrag(fvcef::CefRefPtr<fvcef::CefDragData> data)
{
    GdkDragContext* context = m_drag.context;
    bool refuse = false;
    guarded("OnDragEnter", [&] { refuse = m_client->OnDragEnter(this, data, operationsOf(context)); });
    // The client may have closed the browser meanwhile, which ended the drag here.
    if (m_drag.context == context)
        m_drag.verdict = refuse ? DragVerdict::Refused : DragVerdict::Allowed;
}

void CefBrowserLinux::dragListReceived(GtkSelectionData* data)
{
    const gint length = gtk_selection_data_get_length(data);
    const guchar* bytes = gtk_selection_data_get_data(data);
    const std::string list = length > 0 && bytes != nullptr
                                 ? std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length))
                                 : std::string();
    decideDrag(CefDragDataLinux::fromUriList(list));
    // The source waits for an answer to the motion it last sent; the view gives it when allowed.
    if (m_view == nullptr || m_drag.context == nullptr || !m_drag.inside)
        return;
    if (m_drag.verdict == DragVerdict::Refused) {
        gdk_drag_status(m_drag.context, static_cast<GdkDragAction>(0), m_drag.time);
        return;
    }
    GdkDragContext* context = GDK_DRAG_CONTEXT(g_object_ref(m_drag.context));
    gboolean handled = FALSE;
    g_signal_emit_by_name(m_view, "drag-motion", context, m_drag.x, m_drag.y, m_drag.time, &handled);
    g_object_unref(context);
}

void CefBrowserLinux::forgetDrag()
{
    if (m_drag.context != nullptr)
        g_object_unref(m_drag.context);
    m_drag = Drag();
}

gboolean CefBrowserLinux::onDragMotion(GtkWidget*, GdkDragContext* context, gint x, gint y, guint time, gpointer self)
{
    const fvcef::CefRefPtr<CefBrowserLinux> browser(static_cast<CefBrowserLinux*>(self));
    Drag& drag = browser->m_drag;
    if (drag.context != context)
        browser->beginDrag(context, time);
    if (browser->m_view == nullptr || drag.context != context) {
        gdk_drag_status(context, static_cast<GdkDragAction>(0), time);
        return TRUE;
    }
    drag.inside = true;
    drag.x = x;
    drag.y = y;
    drag.time = time;
    switch (drag.verdict) {
    case DragVerdict::Allowed: return FALSE;
    case DragVerdict::Refused: gdk_drag_status(context, static_cast<GdkDragAction>(0), time); return TRUE;
    case DragVerdict::Pending: return TRUE;
    }
    return TRUE;
}

void CefBrowserLinux::onDragLeave(GtkWidget* widget, GdkDragContext* context, guint, gpointer self)
{
    Drag& drag = static_cast<CefBrowserLinux*>(self)->m_drag;
    if (drag.context != context)
        return;
    drag.inside = false;
    if (drag.verdict != DragVerdict::Allowed)
        g_signal_stop_emission_by_name(widget, "drag-leave");
}

gboolean CefBrowserLinux::onDragDrop(GtkWidget*, GdkDragContext* context, gint, gint, guint time, gpointer self)
{
    const Drag& drag = static_cast<CefBrowserLinux*>(self)->m_drag;
    if (drag.context == context && drag.verdict == DragVerdict::Allowed)
        return FALSE;
    // Refused, or dropped before the client could answer.
    gtk_drag_finish(context, FALSE, FALSE, time);
    return TRUE;
}

void CefBrowserLinux::onDragDataReceived(GtkWidget* widget, GdkDragContext* context, gint, gint, GtkSelectionData* data,
                                         guint, guint, gpointer self)
{
    const fvcef::CefRefPtr<CefBrowserLinux> browser(static_cast<CefBrowserLinux*>(self));
    // Until the verdict only this browser asked for the drag's data; after it, the view did.
    if (browser->m_drag.context != context || browser->m_drag.verdict != DragVerdict::Pending)
        return;
    g_signal_stop_emission_by_name(widget, "drag-data-received");
    guarded("drag-data-received", [&] { browser->dragListReceived(data); });
}

} // namespace ferrovan
