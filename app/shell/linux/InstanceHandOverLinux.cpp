#include "shell/linux/InstanceHandOverLinux.h"

#include "shell/linux/SessionBusLinux.h"

#include "AppConfig.h"

#include <gio/gio.h>

#include <thread>

namespace ferrovan {

namespace {

bool hasNoOwner(const GError* error)
{
    return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
}

} // namespace

CInstanceHandOverLinux::CInstanceHandOverLinux(std::chrono::milliseconds ownerWait) : m_ownerWait(ownerWait) {}

std::string CInstanceHandOverLinux::activateRunningInstance()
{
    const SessionBusPtr bus = connectSessionBus("ferrovan::CInstanceHandOverLinux");
    if (!bus)
        return "no session bus";
    const auto deadline = std::chrono::steady_clock::now() + m_ownerWait;
    for (;;) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus.get(), FV_APP_ID, FV_HANDOFF_PATH, FV_HANDOFF_INTERFACE,
                                                      "ActivateApp", nullptr, G_VARIANT_TYPE_UNIT,
                                                      G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, &error);
        if (reply) {
            g_variant_unref(reply);
            return std::string();
        }
        const bool retry = hasNoOwner(error) && std::chrono::steady_clock::now() < deadline;
        const std::string reason = error->message;
        g_error_free(error);
        if (!retry)
            return reason;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

} // namespace ferrovan
