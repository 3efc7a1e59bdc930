#pragma once

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

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

    bool hasOwner(const char* name) const
    {
        GVariant* reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                               g_variant_new("(s)", name), "(b)");
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
        return owned;
    }

private:
    GDBusConnection* m_bus = nullptr;
};

// Runs the thread's default main context, where the bus callbacks of this thread are
// dispatched, until `done` answers true (true) or the deadline has passed (false).
inline bool runMainContextUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds deadline = std::chrono::seconds(15))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace fv_test
