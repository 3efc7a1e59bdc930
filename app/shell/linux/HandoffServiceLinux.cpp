#include "shell/linux/HandoffServiceLinux.h"

#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/HandOffHub.h"
#include "shell/Logger.h"

#include "AppConfig.h"

#include <exception>
#include <list>
#include <memory>
#include <thread>

namespace ferrovan {

namespace {

constexpr const char* kWhere = "ferrovan::CHandoffServiceLinux::";

const char* const kDescription = "<node>"
                                 "  <interface name='" FV_HANDOFF_INTERFACE "'>"
                                 "    <method name='Send'><arg type='as' name='paths' direction='in'/></method>"
                                 "    <method name='Share'><arg type='as' name='paths' direction='in'/></method>"
                                 "    <method name='ActivateApp'/>"
                                 "  </interface>"
                                 "</node>";

// The bus daemon's answers to RequestName.
constexpr guint32 kPrimaryOwner = 1;
constexpr guint32 kAlreadyOwner = 4;
constexpr guint32 kDoNotQueue = 4;

struct NodeInfoUnref {
    void operator()(GDBusNodeInfo* info) const { g_dbus_node_info_unref(info); }
};

struct VariantUnref {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};

void logTo(ILogger* log, Poco::Message::Priority priority, const std::string& function, const std::string& text)
{
    logLine(log, priority, kWhere + function + ": " + text);
}

std::string takeMessage(GError*& error)
{
    const std::string text = error ? error->message : "unknown error";
    g_clear_error(&error);
    return text;
}

std::list<std::string> pathsOf(GVariant* parameters)
{
    std::list<std::string> paths;
    GVariantIter* items = nullptr;
    g_variant_get(parameters, "(as)", &items);
    const gchar* path = nullptr;
    while (g_variant_iter_next(items, "&s", &path))
        paths.emplace_back(path);
    g_variant_iter_free(items);
    return paths;
}

} // namespace

CHandoffServiceLinux::CHandoffServiceLinux(HandOffHub& hub, std::chrono::milliseconds nameWait)
    : m_hub(hub), m_nameWait(nameWait)
{
}

CHandoffServiceLinux::~CHandoffServiceLinux()
{
    stop();
}

bool CHandoffServiceLinux::start(ILogger* startLog)
{
    if (m_ownsName)
        return true;
    m_bus = connectSessionBus("ferrovan::CHandoffServiceLinux");
    if (!m_bus) {
        logTo(startLog, Poco::Message::PRIO_WARNING, "start", "No session bus: the hand-off is off");
        return false;
    }
    if (registerObject(startLog) && ownName(startLog))
        return true;
    stop();
    return false;
}

bool CHandoffServiceLinux::registerObject(ILogger* startLog)
{
    GError* error = nullptr;
    const std::unique_ptr<GDBusNodeInfo, NodeInfoUnref> description(g_dbus_node_info_new_for_xml(kDescription, &error));
    if (!description) {
        logTo(startLog, Poco::Message::PRIO_ERROR, "start", "Bad object description: " + takeMessage(error));
        return false;
    }
    static const GDBusInterfaceVTable vtable{&CHandoffServiceLinux::dispatchMethodCall, nullptr, nullptr, {}};
    m_registration = g_dbus_connection_register_object(m_bus.get(), FV_HANDOFF_PATH, description->interfaces[0],
                                                       &vtable, this, nullptr, &error);
    if (m_registration == 0) {
        logTo(startLog, Poco::Message::PRIO_ERROR, "start",
              "Failed to export " FV_HANDOFF_PATH ": " + takeMessage(error));
        return false;
    }
    return true;
}

bool CHandoffServiceLinux::ownName(ILogger* startLog)
{
    const auto deadline = std::chrono::steady_clock::now() + m_nameWait;
    for (;;) {
        GError* error = nullptr;
        const std::unique_ptr<GVariant, VariantUnref> reply(g_dbus_connection_call_sync(
            m_bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", FV_APP_ID, kDoNotQueue), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
            &error));
        if (!reply) {
            logTo(startLog, Poco::Message::PRIO_ERROR, "start", "Failed to own " FV_APP_ID ": " + takeMessage(error));
            return false;
        }
        guint32 answer = 0;
        g_variant_get(reply.get(), "(u)", &answer);
        if (answer == kPrimaryOwner || answer == kAlreadyOwner) {
            m_ownsName = true;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            logTo(startLog, Poco::Message::PRIO_ERROR, "start", FV_APP_ID " stays owned by another connection");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void CHandoffServiceLinux::stop()
{
    if (m_registration != 0)
        g_dbus_connection_unregister_object(m_bus.get(), m_registration);
    m_registration = 0;
    if (m_ownsName) {
        // At once, so that a program started next finds the name free.
        GVariant* reply = g_dbus_connection_call_sync(
            m_bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
            g_variant_new("(s)", FV_APP_ID), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply)
            g_variant_unref(reply);
    }
    m_ownsName = false;
    m_bus.reset();
}

void CHandoffServiceLinux::onMethodCall(const char* method, GVariant* parameters, GDBusMethodInvocation* invocation)
{
    const std::string name(method);
    if (name == "ActivateApp") {
        logTo(CFerrovanLogger::getInstance(), Poco::Message::PRIO_INFORMATION, "onMethodCall", "ActivateApp");
        m_hub.activateApp();
    } else {
        const std::list<std::string> paths = pathsOf(parameters);
        logTo(CFerrovanLogger::getInstance(), Poco::Message::PRIO_INFORMATION, "onMethodCall",
              name + " with " + std::to_string(paths.size()) + " path(s)");
        if (name == "Send")
            m_hub.send(paths);
        else
            m_hub.share(paths);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

void CHandoffServiceLinux::dispatchMethodCall(GDBusConnection*, const char*, const char*, const char*,
                                              const char* method, GVariant* parameters,
                                              GDBusMethodInvocation* invocation, gpointer self)
{
    // Nothing may unwind through GLib's frames; the caller still gets its answer.
    try {
        static_cast<CHandoffServiceLinux*>(self)->onMethodCall(method, parameters, invocation);
    } catch (const std::exception& e) {
        logTo(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR, "onMethodCall",
              std::string(method) + " failed: " + exceptionText(e));
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_FAILED, "%s failed", method);
    } catch (...) {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_FAILED, "%s failed", method);
    }
}

} // namespace ferrovan
