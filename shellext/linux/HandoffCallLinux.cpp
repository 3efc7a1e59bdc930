#include "linux/HandoffCallLinux.h"

#include <gio/gio.h>

#include <memory>

namespace ferrovan::ostrel {

namespace {

// Long enough for the bus to start the program and for it to answer.
constexpr int kCallTimeoutMs = 60000;

struct PendingHandoff {
    std::string method;
    std::vector<std::string> paths;
};

void warnFailure(const std::string& method, const GError* error)
{
    g_warning("Handing files to Ferrovan (%s) failed: %s", method.c_str(), error->message);
}

void onReply(GObject* source, GAsyncResult* result, gpointer data)
{
    const std::unique_ptr<PendingHandoff> pending(static_cast<PendingHandoff*>(data));
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply)
        warnFailure(pending->method, error);
}

void onBus(GObject*, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PendingHandoff> pending(static_cast<PendingHandoff*>(data));
    g_autoptr(GError) error = nullptr;
    g_autoptr(GDBusConnection) bus = g_bus_get_finish(result, &error);
    if (!bus) {
        warnFailure(pending->method, error);
        return;
    }
    GVariantBuilder paths;
    g_variant_builder_init(&paths, G_VARIANT_TYPE_STRING_ARRAY);
    for (const auto& path : pending->paths)
        g_variant_builder_add(&paths, "s", path.c_str());
    GVariant* arguments = g_variant_new("(as)", &paths);
    // Auto-start stays allowed: the bus starts the program when no one owns its name.
    PendingHandoff* call = pending.release();
    g_dbus_connection_call(bus, FV_APP_ID, FV_HANDOFF_OBJECT_PATH, FV_HANDOFF_INTERFACE, call->method.c_str(),
                           arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, onReply, call);
}

} // namespace

void CHandoffCallLinux::start(const std::string& method, const std::vector<std::string>& paths)
{
    auto pending = std::make_unique<PendingHandoff>(PendingHandoff{method, paths});
    // Even the connection is asynchronous: a process's first one waits for the bus.
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, onBus, pending.release());
}

} // namespace ferrovan::ostrel
