#include "browser/linux/WindowEventCatcherLinux.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace ferrovan {

namespace {

bool reportsMoves(GtkWindow* window)
{
#ifdef GDK_WINDOWING_X11
    return window != nullptr && GDK_IS_X11_DISPLAY(gtk_widget_get_display(GTK_WIDGET(window)));
#else
    (void)window;
    return false;
#endif
}

// A frame seen while the window is iconified is not one to restore, and neither is one of a
// window that is not on screen at all.
bool isReportable(GdkWindowState state)
{
    return (state & (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_WITHDRAWN)) == 0;
}

} // namespace

CWindowEventCatcherLinux::CWindowEventCatcherLinux(GtkWindow* window)
    : m_window(window), m_reportsMoves(reportsMoves(window))
{
    if (m_window == nullptr)
        return;
    g_object_add_weak_pointer(G_OBJECT(m_window), reinterpret_cast<gpointer*>(&m_window));
    g_signal_connect(m_window, "configure-event", G_CALLBACK(onConfigure), this);
    g_signal_connect(m_window, "window-state-event", G_CALLBACK(onWindowState), this);
}

CWindowEventCatcherLinux::~CWindowEventCatcherLinux()
{
    if (m_window == nullptr)
        return;
    g_signal_handlers_disconnect_by_data(m_window, this);
    g_object_remove_weak_pointer(G_OBJECT(m_window), reinterpret_cast<gpointer*>(&m_window));
}

void CWindowEventCatcherLinux::setEventHandler(IEventHanlder* handler)
{
    m_handler = handler;
}

gboolean CWindowEventCatcherLinux::onConfigure(GtkWidget* widget, GdkEvent*, gpointer self)
{
    GdkWindow* window = gtk_widget_get_window(widget);
    if (window != nullptr)
        static_cast<CWindowEventCatcherLinux*>(self)->report(gdk_window_get_state(window));
    return FALSE;
}

gboolean CWindowEventCatcherLinux::onWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self)
{
    static_cast<CWindowEventCatcherLinux*>(self)->report(event->new_window_state);
    return FALSE;
}

void CWindowEventCatcherLinux::report(GdkWindowState state)
{
    if (m_handler == nullptr || m_window == nullptr || !isReportable(state))
        return;
    const bool fillsDisplay = (state & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN)) != 0;
    int width = 0;
    int height = 0;
    gtk_window_get_size(m_window, &width, &height);
    m_handler->onWindowResized(width, height, fillsDisplay);
    if (!m_reportsMoves)
        return;
    int left = 0;
    int top = 0;
    gtk_window_get_position(m_window, &left, &top);
    m_handler->onWindowMoved(top, left);
}

std::unique_ptr<IWindowEventCatcher> createWindowEventCatcher(void* nativeWindow)
{
    GtkWindow* window = nativeWindow != nullptr ? GTK_WINDOW(nativeWindow) : nullptr;
    return std::make_unique<CWindowEventCatcherLinux>(window);
}

} // namespace ferrovan
