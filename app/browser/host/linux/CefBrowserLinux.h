#pragma once

#include "browser/host/CefBrowser.h"
#include "browser/host/CefBrowserHost.h"
#include "browser/host/CefClient.h"
#include "browser/host/linux/CefFrameLinux.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

namespace ferrovan {

class WebContextLinux;

// One browser = one WebKitWebView, main frame only. It turns the view's signals into the
// client's callbacks and keeps itself alive until OnBeforeClose, which comes exactly once
// however the browser ends (its close, a forced close, its window destroyed). No other view is
// ever made: the page's new windows go to the client as addresses. Used on the UI thread.
class CefBrowserLinux : public fvcef::CefRefCounted<fvcef::CefBrowser, fvcef::CefBrowserHost> {
public:
    // Puts a new view into `window` (its only child), or at the end of `box` inside it, filling
    // what the box leaves; calls the client's OnAfterCreated, then loads `url`. Closing the
    // browser destroys `window`.
    static fvcef::CefRefPtr<CefBrowserLinux> create(const WebContextLinux& context, GtkWindow* window,
                                                    fvcef::CefRefPtr<fvcef::CefClient> client, const std::string& url,
                                                    GtkBox* box = nullptr);

    CefBrowserLinux(const CefBrowserLinux&) = delete;
    CefBrowserLinux& operator=(const CefBrowserLinux&) = delete;

    fvcef::CefRefPtr<fvcef::CefBrowserHost> GetHost() override;
    fvcef::CefRefPtr<fvcef::CefFrame> GetMainFrame() override;
    int GetIdentifier() override;
    bool IsPopup() override;
    bool IsSame(fvcef::CefRefPtr<fvcef::CefBrowser> that) override;

    void CloseBrowser(bool force_close) override;
    // The GtkWindow.
    void* GetWindowHandle() override;

    // Null once closed.
    WebKitWebView* getWebView() const { return m_view; }

private:
    CefBrowserLinux(WebKitWebView* view, GtkWindow* window, fvcef::CefRefPtr<fvcef::CefClient> client,
                    bool developerExtras);
    ~CefBrowserLinux() override;

    void connectSignals();
    // The page agreed to close (or was not asked).
    void proceedClose();
    void finishClose();

    static gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static void onViewClose(WebKitWebView*, gpointer self);
    static void onViewDestroy(GtkWidget*, gpointer self);
    static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self);
    static gboolean onLoadFailedWithTlsErrors(WebKitWebView*, gchar* uri, GTlsCertificate*, GTlsCertificateFlags,
                                              gpointer self);
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer self);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
    static gboolean onAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer self);
    static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self);
    static gboolean onContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*,
                                  gpointer self);
    static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self);
    static gboolean onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer self);
    static gboolean onDragMotion(GtkWidget*, GdkDragContext* context, gint x, gint y, guint time, gpointer self);
    static void onDragLeave(GtkWidget* widget, GdkDragContext* context, guint time, gpointer self);
    static gboolean onDragDrop(GtkWidget*, GdkDragContext* context, gint x, gint y, guint time, gpointer self);
    static void onDragDataReceived(GtkWidget* widget, GdkDragContext* context, gint x, gint y, GtkSelectionData* data,
                                   guint info, guint time, gpointer self);

    void decideNavigation(WebKitNavigationPolicyDecision* decision);
    void decideResponse(WebKitResponsePolicyDecision* decision);
    void reportLoadError(fvcef::cef_errorcode_t code, const std::string& text, const std::string& url);

    // The client hears of each drag once, on its first motion over the view, and its answer
    // holds for the whole drag: refused, the view never sees it; allowed, the view handles it
    // as it would have without us. A URI list is read first to tell files from links.
    enum class DragVerdict { Pending, Allowed, Refused };
    struct Drag {
        GdkDragContext* context = nullptr; // one reference, until the next drag or the close
        DragVerdict verdict = DragVerdict::Pending;
        bool inside = false;
        gint x = 0;
        gint y = 0;
        guint time = 0;
    };
    void beginDrag(GdkDragContext* context, guint time);
    void decideDrag(fvcef::CefRefPtr<fvcef::CefDragData> data);
    void dragListReceived(GtkSelectionData* data);
    void forgetDrag();

    WebKitWebView* m_view; // owned by m_window; null once closed
    GtkWindow* m_window;   // owned by GTK
    fvcef::CefRefPtr<fvcef::CefClient> m_client;
    fvcef::CefRefPtr<CefFrameLinux> m_frame;
    const int m_id;
    const bool m_developerExtras;
    bool m_closing = false;
    bool m_loadFailed = false;
    Drag m_drag;
    // The browser's own reference while its view stands.
    fvcef::CefRefPtr<CefBrowserLinux> m_self;
};

} // namespace ferrovan
