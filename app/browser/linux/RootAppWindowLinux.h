#pragma once

#include "browser/RootAppWindow.h"
#include "browser/host/linux/CefBrowserLinux.h"
#include "browser/host/linux/WebContextLinux.h"

#include <gtk/gtk.h>

#include <memory>

namespace ferrovan {

class RootWindowMenu;

// The main window as a GtkWindow holding a vertical box: the menu bar, then the view. The window
// owns the web context its view is made with; once a view exists the object keeps itself alive
// until that view is finalized, so the context outlives everything WebKit does for the view.
class RootAppWindowLinux : public fvcef::CefRefCounted<RootAppWindow> {
public:
    explicit RootAppWindowLinux(const RootWindowConfig& config);

    RootAppWindowLinux(const RootAppWindowLinux&) = delete;
    RootAppWindowLinux& operator=(const RootAppWindowLinux&) = delete;

    fvcef::CefRefPtr<fvcef::CefBrowser> addBrowserView(fvcef::CefRefPtr<fvcef::CefClient> client,
                                                       const std::string& url) override;
    void activate() override;
    void bringToFront() override;
    void close() override;
    void* getNativeWindow() override;

private:
    ~RootAppWindowLinux() override;

    static WebContextConfig contextConfig(const RootWindowConfig& config);
    void restorePlacement(const RootWindowConfig& config);

    static void onWindowDestroy(GtkWidget*, gpointer self);
    static void onViewFinalized(gpointer self, GObject*);

    const bool m_maximized;
    WebContextLinux m_context;
    GtkWindow* m_window; // owned by GTK; null once destroyed
    GtkBox* m_column;
    std::unique_ptr<RootWindowMenu> m_menu;
    bool m_hasView = false;
    fvcef::CefRefPtr<CefBrowserLinux> m_browser;
    // Taken with the view, given back after the view's end.
    fvcef::CefRefPtr<RootAppWindowLinux> m_self;
};

} // namespace ferrovan
