#include "core/linux/SystemBusLinux.h"

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

} // namespace fv_transfers
