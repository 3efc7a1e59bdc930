#include "core/system/linux/SystemBusLinux.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace fv_transfers {

std::string takeGError(GError* error)
{
    if (!error)
        return "unknown error";
    std::string message = error->message ? error->message : "unknown error";
    g_error_free(error);
    return message;
}

DBusConnectionPtr openPrivateSystemBus(std::string& error, GCancellable* cancel)
{
    GError* gerror = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, cancel, &gerror);
    if (!address) {
        error = takeGError(gerror);
        return nullptr;
    }
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancel, &gerror);
    g_free(address);
    if (!connection) {
        error = takeGError(gerror);
        return nullptr;
    }
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    return DBusConnectionPtr(connection);
}

DBusConnectionPtr openPrivateSystemBusWithin(std::string& error, std::chrono::milliseconds limit)
{
    const std::unique_ptr<GCancellable, GObjectUnref> cancel(g_cancellable_new());
    std::mutex lock;
    std::condition_variable opened;
    bool finished = false;
    std::thread timer([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (!opened.wait_for(guard, limit, [&] { return finished; }))
            g_cancellable_cancel(cancel.get());
    });
    DBusConnectionPtr bus = openPrivateSystemBus(error, cancel.get());
    {
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
    }
    opened.notify_all();
    timer.join();
    if (!bus && g_cancellable_is_cancelled(cancel.get()))
        error = "no answer within " + std::to_string(limit.count()) + " ms";
    return bus;
}

} // namespace fv_transfers
