#include "core/system/linux/SystemBusLinux.h"

#include <gio/gunixfdlist.h>

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

LogindInhibitResult takeLogindInhibitor(const LogindInhibitRequest& request, std::chrono::milliseconds busTimeout)
{
    LogindInhibitResult result;
    std::string error;
    DBusConnectionPtr bus = openPrivateSystemBusWithin(error, busTimeout);
    if (!bus) {
        result.noBus = true;
        result.error = "no system bus: " + error;
        return result;
    }
    GUnixFDList* fds = nullptr;
    GError* gerror = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
        g_variant_new("(ssss)", request.what, request.who, request.why, request.mode), G_VARIANT_TYPE("(h)"),
        G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(busTimeout.count()), nullptr, &fds, nullptr, &gerror);
    if (!reply) {
        result.error = "Inhibit failed: " + takeGError(gerror);
        return result;
    }
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    g_variant_unref(reply);
    if (fds) {
        // get() duplicates the descriptor; the list closes its own copy.
        result.fd = g_unix_fd_list_get(fds, index, &gerror);
        if (result.fd < 0)
            result.error = "no descriptor: " + takeGError(gerror);
        g_object_unref(fds);
    } else {
        result.error = "no descriptor: " + takeGError(nullptr);
    }
    // The bus connection is not needed to keep the inhibitor: the descriptor is.
    g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
    return result;
}

} // namespace fv_transfers
