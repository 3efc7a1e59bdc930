#include "core/system/linux/PowerEventSourceLinux.h"

#include "core/log/FvTransfersLogger.h"
#include "core/system/PowerMode.h"

#include <atomic>

namespace fv_transfers {

namespace {

const char* const kLogindName = "org.freedesktop.login1";
const char* const kLogindPath = "/org/freedesktop/login1";
const char* const kManagerInterface = "org.freedesktop.login1.Manager";
const int kBusCallTimeoutMs = 5000;

// Every start of the library looks for the bus again; that it is missing is said once per process.
void warnNoSystemBus(const std::string& error)
{
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true))
        FV_LOG_WARNING("fv_transfers::CPowerEventSourceLinux: no system bus (" << error
                                                                               << "), sleep and wake are not reported");
}

} // namespace

CPowerEventSourceLinux::CPowerEventSourceLinux(Handler handler, GCancellable* cancel) : m_handler(std::move(handler))
{
    std::string error;
    m_connection = openPrivateSystemBus(error, cancel);
    if (!m_connection) {
        warnNoSystemBus(error);
        return;
    }
    m_subscription =
        g_dbus_connection_signal_subscribe(m_connection.get(), kLogindName, kManagerInterface, "PrepareForSleep",
                                           kLogindPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &onSignal, this, nullptr);

    // The bus handles our messages in order: once this answer is back, the match rule is in
    // place and a suspend announced from now on reaches us.
    GError* gerror = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(m_connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetId", nullptr, G_VARIANT_TYPE("(s)"),
                                                  G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, cancel, &gerror);
    if (reply)
        g_variant_unref(reply);
    else
        FV_LOG_WARNING("fv_transfers::CPowerEventSourceLinux: system bus does not answer: " << takeGError(gerror));
}

CPowerEventSourceLinux::~CPowerEventSourceLinux()
{
    if (!m_connection)
        return;
    if (m_subscription != 0)
        g_dbus_connection_signal_unsubscribe(m_connection.get(), m_subscription);
    g_dbus_connection_close_sync(m_connection.get(), nullptr, nullptr);
}

void CPowerEventSourceLinux::onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                      GVariant* parameters, gpointer self)
{
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
        return;
    gboolean suspending = FALSE;
    g_variant_get(parameters, "(b)", &suspending);
    static_cast<CPowerEventSourceLinux*>(self)->m_handler(suspending ? kPowerModeSuspending : kPowerModeResumed);
}

} // namespace fv_transfers
