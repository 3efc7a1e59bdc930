#include "FakeHandoffOwner.h"

#include <stdexcept>

namespace fv_test {

namespace {

const char* const kIntrospection = "<node><interface name='" FV_HANDOFF_INTERFACE "'>"
                                   "<method name='Send'><arg type='as' direction='in'/></method>"
                                   "<method name='Share'><arg type='as' direction='in'/></method>"
                                   "<method name='ActivateApp'/>"
                                   "</interface></node>";

constexpr guint32 kDoNotQueue = 4;
constexpr guint32 kPrimaryOwner = 1;

guint32 busNameRequest(GDBusConnection* connection, const char* method, GVariant* arguments)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method, arguments,
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    if (!reply)
        throw std::runtime_error(std::string(method) + ": " + error->message);
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    return result;
}

} // namespace

FakeHandoffOwner::FakeHandoffOwner(GDBusConnection* connection, CallListener listener)
    : m_connection(G_DBUS_CONNECTION(g_object_ref(connection))), m_listener(std::move(listener))
{
    m_node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable{onMethodCall, nullptr, nullptr, {}};
    m_registration = g_dbus_connection_register_object(m_connection, FV_HANDOFF_OBJECT_PATH, m_node->interfaces[0],
                                                       &vtable, this, nullptr, nullptr);
    if (busNameRequest(m_connection, "RequestName", g_variant_new("(su)", FV_APP_ID, kDoNotQueue)) != kPrimaryOwner) {
        g_dbus_connection_unregister_object(m_connection, m_registration);
        g_dbus_node_info_unref(m_node);
        g_object_unref(m_connection);
        throw std::runtime_error("the name " FV_APP_ID " is owned already");
    }
}

FakeHandoffOwner::~FakeHandoffOwner()
{
    try {
        busNameRequest(m_connection, "ReleaseName", g_variant_new("(s)", FV_APP_ID));
    } catch (const std::exception&) {
        // The bus is gone; so is the name.
    }
    g_dbus_connection_unregister_object(m_connection, m_registration);
    g_dbus_node_info_unref(m_node);
    g_object_unref(m_connection);
}

void FakeHandoffOwner::onMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                                    GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self)
{
    auto* owner = static_cast<FakeHandoffOwner*>(self);
    HandoffCall call{method, {}};
    if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(as)"))) {
        g_autoptr(GVariantIter) paths = nullptr;
        g_variant_get(parameters, "(as)", &paths);
        const char* path = nullptr;
        while (g_variant_iter_next(paths, "&s", &path))
            call.paths.emplace_back(path);
    }
    owner->m_calls.push_back(call);
    if (owner->m_listener)
        owner->m_listener(call);
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GDBusConnection* openSeparateSessionConnection()
{
    g_autoptr(GError) error = nullptr;
    g_autofree char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!address)
        throw std::runtime_error(std::string("no session bus: ") + error->message);
    GDBusConnection* connection =
        g_dbus_connection_new_for_address_sync(address,
                                               GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                               nullptr, nullptr, &error);
    if (!connection)
        throw std::runtime_error(std::string("cannot connect to the session bus: ") + error->message);
    return connection;
}

} // namespace fv_test
