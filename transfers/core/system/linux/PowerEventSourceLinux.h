#pragma once

#include "core/system/linux/SystemBusLinux.h"

#include <cstdint>
#include <functional>

namespace fv_transfers {

// Listens to logind's PrepareForSleep on the system bus. Built, used and destroyed on the
// service thread, whose GLib context is the thread default there. Without a system bus it
// logs one warning and stays silent. `cancel` ends a set-up that hangs on an unresponsive bus.
class CPowerEventSourceLinux {
public:
    using Handler = std::function<void(std::uint32_t powerMode)>;

    CPowerEventSourceLinux(Handler handler, GCancellable* cancel);
    ~CPowerEventSourceLinux();
    CPowerEventSourceLinux(const CPowerEventSourceLinux&) = delete;
    CPowerEventSourceLinux& operator=(const CPowerEventSourceLinux&) = delete;

    bool isListening() const { return m_subscription != 0; }

private:
    static void onSignal(GDBusConnection* connection, const gchar* sender, const gchar* path, const gchar* interface,
                         const gchar* signal, GVariant* parameters, gpointer self);

    Handler m_handler;
    DBusConnectionPtr m_connection;
    guint m_subscription = 0;
};

} // namespace fv_transfers
