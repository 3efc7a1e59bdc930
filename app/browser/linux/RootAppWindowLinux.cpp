#include "browser/linux/RootAppWindowLinux.h"

#include "AppConfig.h"
#include "browser/LocalPages.h"
#include "browser/RootWindowMenu.h"
#include "browser/host/CefTask.h"
#include "browser/host/linux/CefBrowserLinux.h"
#include "shell/FerrovanLogger.h"
#include "shell/Logger.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <exception>
#include <utility>

namespace ferrovan {

namespace {

void logError(const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR, "ferrovan::RootAppWindowLinux: " + text);
}

// Only X11 lets a program place its own window; elsewhere the compositor does.
bool canPlaceWindows(GtkWindow* window)
{
#ifdef GDK_WINDOWING_X11
    return GDK_IS_X11_DISPLAY(gtk_widget_get_display(GTK_WIDGET(window)));
#else
    (void)window;
    return false;
#endif
}

} // namespace

RootAppWindowLinux::RootAppWindowLinux(const RootWindowConfig& config)
    : m_maximized(config.maximized), m_context(contextConfig(config)),
      m_window(GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL))),
      m_column(GTK_BOX(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0)))
{
    gtk_window_set_title(m_window, FV_PRODUCT_NAME);
    gtk_window_set_icon_name(m_window, FV_APP_ID);
    gtk_container_add(GTK_CONTAINER(m_window), GTK_WIDGET(m_column));
    gtk_widget_show(GTK_WIDGET(m_column));
    if (config.menuCallback != nullptr) {
        m_menu = std::make_unique<RootWindowMenu>(*config.menuCallback);
        auto* bar = static_cast<GtkWidget*>(m_menu->createMenuBar());
        gtk_box_pack_start(m_column, bar, FALSE, FALSE, 0);
        gtk_widget_show_all(bar);
    }
    restorePlacement(config);
    g_signal_connect(m_window, "destroy", G_CALLBACK(onWindowDestroy), this);
}

RootAppWindowLinux::~RootAppWindowLinux()
{
    // Only a window that never had a view gets here still standing.
    if (m_window != nullptr) {
        g_signal_handlers_disconnect_by_data(m_window, this);
        gtk_widget_destroy(GTK_WIDGET(std::exchange(m_window, nullptr)));
    }
}

WebContextConfig RootAppWindowLinux::contextConfig(const RootWindowConfig& config)
{
    WebContextConfig context;
    context.settings = config.browserSettings;
    context.bridgeNames = config.bridgeNames;
    context.webAppUrl = config.webAppUrl;
    context.extensionsDirectory = config.extensionsDirectory;
    const std::string resources = config.resourcesDirectory;
    context.localResources = [resources](const std::string& path) { return resolveLocalResource(resources, path); };
    return context;
}

void RootAppWindowLinux::restorePlacement(const RootWindowConfig& config)
{
    // What gtk_window_get_position and gtk_window_get_size report is what these take, so a saved
    // frame comes back exactly.
    if (canPlaceWindows(m_window))
        gtk_window_move(m_window, config.bounds.x, config.bounds.y);
    if (config.bounds.width > 0 && config.bounds.height > 0)
        gtk_window_set_default_size(m_window, config.bounds.width, config.bounds.height);
}

fvcef::CefRefPtr<fvcef::CefBrowser> RootAppWindowLinux::addBrowserView(fvcef::CefRefPtr<fvcef::CefClient> client,
                                                                       const std::string& url)
{
    if (m_window == nullptr || m_hasView)
        return nullptr;
    fvcef::CefRefPtr<CefBrowserLinux> browser = CefBrowserLinux::create(m_context, m_window, client, url, m_column);
    m_hasView = true;
    m_browser = browser;
    // A client may have closed the browser already, in OnAfterCreated.
    if (WebKitWebView* view = browser->getWebView()) {
        m_self = this;
        g_object_weak_ref(G_OBJECT(view), onViewFinalized, this);
    }
    return browser.get();
}

void RootAppWindowLinux::activate()
{
    if (m_window == nullptr)
        return;
    // Before the first map, so the window appears maximised rather than growing to it.
    if (m_maximized && !gtk_widget_get_visible(GTK_WIDGET(m_window)))
        gtk_window_maximize(m_window);
    gtk_widget_show(GTK_WIDGET(m_window));
    gtk_window_present_with_time(m_window, GDK_CURRENT_TIME);
}

void RootAppWindowLinux::bringToFront()
{
    if (m_window != nullptr && gtk_widget_get_visible(GTK_WIDGET(m_window)))
        gtk_window_present_with_time(m_window, GDK_CURRENT_TIME);
}

void RootAppWindowLinux::close()
{
    if (m_window == nullptr)
        return;
    // A window never shown gets no delete event from the display: its browser is asked directly.
    if (gtk_widget_get_realized(GTK_WIDGET(m_window)))
        gtk_window_close(m_window);
    else if (m_browser)
        m_browser->CloseBrowser(false);
    else
        gtk_widget_destroy(GTK_WIDGET(m_window));
}

void* RootAppWindowLinux::getNativeWindow()
{
    return m_window;
}

void RootAppWindowLinux::onWindowDestroy(GtkWidget*, gpointer self)
{
    static_cast<RootAppWindowLinux*>(self)->m_window = nullptr;
}

void RootAppWindowLinux::onViewFinalized(gpointer self, GObject*)
{
    auto* window = static_cast<RootAppWindowLinux*>(self);
    // The view is still being torn down here: the context, and this object with it, end later.
    auto keep = std::make_shared<fvcef::CefRefPtr<RootAppWindowLinux>>(std::move(window->m_self));
    if (!fvcef::CefPostTask(fvcef::TID_UI, [keep] { *keep = nullptr; }))
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_WARNING,
                "ferrovan::RootAppWindowLinux: no UI thread left to end the window on; it ends at once");
}

fvcef::CefRefPtr<RootAppWindow> createRootAppWindow(const RootWindowConfig& config)
{
    if (gdk_display_get_default() == nullptr) {
        logError("no display to open the main window on");
        return nullptr;
    }
    try {
        return new RootAppWindowLinux(config);
    } catch (const std::exception& e) {
        logError("the main window could not be made: " + std::string(e.what()));
    }
    return nullptr;
}

std::vector<ScreenRect> getDisplayWorkAreas()
{
    std::vector<ScreenRect> areas;
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr)
        return areas;
    const int count = gdk_display_get_n_monitors(display);
    for (int index = 0; index < count; ++index) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, index);
        if (monitor == nullptr)
            continue;
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        areas.push_back({area.x, area.y, area.width, area.height});
    }
    return areas;
}

} // namespace ferrovan
