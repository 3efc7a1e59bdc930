#include "shell/linux/SessionBusLinux.h"

#include "shell/FerrovanLogger.h"

#include <mutex>
#include <string>

namespace ferrovan {

SessionBusPtr connectSessionBus(const char* caller)
{
    GError* error = nullptr;
    SessionBusPtr bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (!bus) {
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_INFORMATION,
                std::string(caller) + ": No session bus: " + (error ? error->message : "unknown error"));
        g_clear_error(&error);
        return bus;
    }
    // GIO ends the process when the shared connection closes; a restarted session bus must
    // not end the user's transfers.
    g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
    // GIO keeps the shared connection only while someone holds it, and drops what is still
    // queued for sending when the last holder lets go: the process holds it for its whole run.
    static std::mutex lock;
    static SessionBusPtr keptAlive;
    std::lock_guard<std::mutex> guard(lock);
    if (keptAlive.get() != bus.get())
        keptAlive.reset(G_DBUS_CONNECTION(g_object_ref(bus.get())));
    return bus;
}

} // namespace ferrovan
