#pragma once

#include "browser/WindowEventCatcher.h"

#include <gtk/gtk.h>

namespace ferrovan {

// Reads the frame from the window itself on each configure and state change, with the same calls
// the restore's counterparts answer to (gtk_window_get_position, gtk_window_get_size), so what is
// saved comes back unchanged. Moves are not reported where the program cannot place its windows.
class CWindowEventCatcherLinux : public IWindowEventCatcher {
public:
    explicit CWindowEventCatcherLinux(GtkWindow* window);
    ~CWindowEventCatcherLinux() override;
    CWindowEventCatcherLinux(const CWindowEventCatcherLinux&) = delete;
    CWindowEventCatcherLinux& operator=(const CWindowEventCatcherLinux&) = delete;

    void setEventHandler(IEventHanlder* handler) override;

private:
    static gboolean onConfigure(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean onWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self);
    void report(GdkWindowState state);

    GtkWindow* m_window; // weak: null once the window is finalized
    IEventHanlder* m_handler = nullptr;
    const bool m_reportsMoves;
};

} // namespace ferrovan
