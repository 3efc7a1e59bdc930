#pragma once

#include <gio/gio.h>

#include <stdexcept>
#include <string>

namespace fv_test {

// The test's own connection to the session bus of the session wrapper, apart from the shared
// one the code under test uses, as a dock or a notification daemon would have.
class SessionBusClient {
public:
    SessionBusClient()
    {
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (address)
            m_bus = g_dbus_connection_new_for_address_sync(
                address,
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error);
        g_free(address);
        if (!m_bus)
            throw std::runtime_error(std::string("no session bus: ") + (error ? error->message : "?"));
        g_dbus_connection_set_exit_on_close(m_bus, FALSE);
    }
    ~SessionBusClient()
    {
        g_dbus_connection_close_sync(m_bus, nullptr, nullptr);
        g_object_unref(m_bus);
    }
    SessionBusClient(const SessionBusClient&) = delete;
    SessionBusClient& operator=(const SessionBusClient&) = delete;

    GDBusConnection* get() const { return m_bus; }

    // A method call and its reply (the caller unrefs it); throws on an error reply.
    GVariant* call(const char* name, const char* path, const char* interface, const char* method, GVariant* parameters,
                   const char* replyType) const
    {
        GError* error = nullptr;
        GVariant* reply =
            g_dbus_connection_call_sync(m_bus, name, path, interface, method, parameters, G_VARIANT_TYPE(replyType),
                                        G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
        if (!reply) {
            const std::string text = std::string(method) + " failed: " + error->message;
            g_error_free(error);
            throw std::runtime_error(text);
        }
        return reply;
    }

    // A round trip to the bus: the match rules this connection sent before are in place after it.
    void sync() const
    {
        g_variant_unref(
            call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr, "(s)"));
    }

private:
    GDBusConnection* m_bus = nullptr;
};

} // namespace fv_test
