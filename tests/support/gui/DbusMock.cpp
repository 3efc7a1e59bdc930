#include "support/gui/DbusMock.h"

#include <gio/gio.h>

#include <csignal>
#include <memory>
#include <stdexcept>
#include <thread>
#include <utility>

namespace fv_test {

namespace {

const char* const kMockInterface = "org.freedesktop.DBus.Mock";

struct CharsDeleter {
    void operator()(gchar* text) const { g_free(text); }
};

GDBusConnection* sessionBus()
{
    // The process-wide connection: GIO keeps it, so it is not released here.
    static GDBusConnection* const bus = [] {
        GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (connection == nullptr)
            throw std::runtime_error("no session bus: run the test in the session wrapper");
        return connection;
    }();
    return bus;
}

// Takes ownership of `parameters` (a floating reference).
VariantPtr call(const std::string& name, const std::string& path, const std::string& interface,
                const std::string& method, GVariant* parameters)
{
    GError* error = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(sessionBus(), name.c_str(), path.c_str(), interface.c_str(),
                                                 method.c_str(), parameters, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                 10000, nullptr, &error));
    if (!reply) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error(method + " failed: " + message);
    }
    return reply;
}

} // namespace

DbusMock::DbusMock(const std::string& busName, const std::vector<std::string>& arguments)
    : m_busName(busName), m_process("/usr/bin/python3", [&arguments] {
          std::vector<std::string> all{"-m", "dbusmock", "--session"};
          all.insert(all.end(), arguments.begin(), arguments.end());
          return all;
      }())
{
    // Python starts slowly on a loaded machine.
    if (!awaitOwner(m_busName, true, std::chrono::seconds(60)))
        throw std::runtime_error("dbusmock did not claim " + m_busName);
}

DbusMock::~DbusMock()
{
    m_process.signal(SIGTERM);
    m_process.waitExit(std::chrono::seconds(20));
    awaitOwner(m_busName, false, std::chrono::seconds(20));
}

void DbusMock::addMethod(const std::string& path, const std::string& interface, const std::string& name,
                         const std::string& inSignature)
{
    call(m_busName, path, kMockInterface, "AddMethod",
         g_variant_new("(sssss)", interface.c_str(), name.c_str(), inSignature.c_str(), "", ""));
}

std::vector<std::vector<VariantPtr>> DbusMock::argumentsOf(const std::string& path, const std::string& method)
{
    const VariantPtr reply =
        call(m_busName, path, kMockInterface, "GetMethodCalls", g_variant_new("(s)", method.c_str()));
    std::vector<std::vector<VariantPtr>> calls;
    const VariantPtr list(g_variant_get_child_value(reply.get(), 0)); // a(tav)
    for (gsize i = 0; i < g_variant_n_children(list.get()); ++i) {
        const VariantPtr entry(g_variant_get_child_value(list.get(), i));
        const VariantPtr arguments(g_variant_get_child_value(entry.get(), 1));
        std::vector<VariantPtr> unboxed;
        for (gsize j = 0; j < g_variant_n_children(arguments.get()); ++j) {
            const VariantPtr boxed(g_variant_get_child_value(arguments.get(), j));
            unboxed.emplace_back(g_variant_get_variant(boxed.get()));
        }
        calls.push_back(std::move(unboxed));
    }
    return calls;
}

std::vector<std::vector<std::string>> DbusMock::callsOf(const std::string& path, const std::string& method)
{
    std::vector<std::vector<std::string>> calls;
    for (const std::vector<VariantPtr>& arguments : argumentsOf(path, method)) {
        std::vector<std::string> printed;
        for (const VariantPtr& argument : arguments) {
            const std::unique_ptr<gchar, CharsDeleter> text(g_variant_print(argument.get(), FALSE));
            printed.emplace_back(text.get());
        }
        calls.push_back(printed);
    }
    return calls;
}

void DbusMock::emitSignal(const std::string& path, const std::string& interface, const std::string& name,
                          const std::string& signature, const std::vector<GVariant*>& arguments)
{
    GVariantBuilder boxed;
    g_variant_builder_init(&boxed, G_VARIANT_TYPE("av"));
    for (GVariant* argument : arguments)
        g_variant_builder_add(&boxed, "v", argument);
    call(m_busName, path, kMockInterface, "EmitSignal",
         g_variant_new("(sssav)", interface.c_str(), name.c_str(), signature.c_str(), &boxed));
}

bool DbusMock::hasOwner(const std::string& busName)
{
    const VariantPtr reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                  "NameHasOwner", g_variant_new("(s)", busName.c_str()));
    gboolean owned = FALSE;
    g_variant_get(reply.get(), "(b)", &owned);
    return owned != FALSE;
}

bool DbusMock::awaitOwner(const std::string& busName, bool owned, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (hasOwner(busName) != owned) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

} // namespace fv_test
