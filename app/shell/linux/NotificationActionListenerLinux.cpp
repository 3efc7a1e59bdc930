#include "shell/linux/NotificationActionListenerLinux.h"

#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/OsFileExplorer.h"

#include <utility>

namespace ferrovan {

namespace {

void logWarning(const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_WARNING, text);
}

} // namespace

CNotificationActionListenerLinux& CNotificationActionListenerLinux::getInstance()
{
    static CNotificationActionListenerLinux instance;
    return instance;
}

CNotificationActionListenerLinux::CNotificationActionListenerLinux() : m_opener(openWebPage) {}

CNotificationActionListenerLinux::~CNotificationActionListenerLinux()
{
    if (m_subscription != 0)
        g_dbus_connection_signal_unsubscribe(m_bus.get(), m_subscription);
}

void CNotificationActionListenerLinux::watch(GDBusConnection* bus)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bus.get() == bus)
        return;
    if (m_subscription != 0)
        g_dbus_connection_signal_unsubscribe(m_bus.get(), m_subscription);
    m_bus.reset(G_DBUS_CONNECTION(g_object_ref(bus)));
    // Both signals of the daemon's interface: ActionInvoked and NotificationClosed.
    m_subscription = g_dbus_connection_signal_subscribe(bus, kNotificationDaemonName, kNotificationDaemonName, nullptr,
                                                        kNotificationDaemonPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                        onSignal, this, nullptr);
}

void CNotificationActionListenerLinux::remember(const std::string& daemon, guint32 id, const std::string& url)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_urls[{daemon, id}] = url;
}

void CNotificationActionListenerLinux::setUrlOpener(UrlOpener opener)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_opener = opener ? std::move(opener) : UrlOpener(openWebPage);
}

void CNotificationActionListenerLinux::onSignal(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                                                const gchar* signal, GVariant* parameters, gpointer self)
{
    auto* listener = static_cast<CNotificationActionListenerLinux*>(self);
    guardCallback("ferrovan::CNotificationActionListenerLinux::onSignal", [&] {
        const std::string name = signal;
        if (name == "ActionInvoked" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
            guint32 id = 0;
            const gchar* action = nullptr;
            g_variant_get(parameters, "(u&s)", &id, &action);
            listener->onActionInvoked({sender ? sender : "", id}, action);
        } else if (name == "NotificationClosed" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
            guint32 id = 0;
            guint32 reason = 0;
            g_variant_get(parameters, "(uu)", &id, &reason);
            listener->onClosed({sender ? sender : "", id});
        }
    });
}

void CNotificationActionListenerLinux::onActionInvoked(const NotificationKey& key, const std::string& action)
{
    if (action != "default")
        return;
    std::string url;
    UrlOpener opener;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto found = m_urls.find(key);
        if (found == m_urls.end())
            return; // another program's notification, one without an address, or another daemon's
        url = found->second;
        opener = m_opener;
    }
    // Outside the lock: the opener may take its time or notify again.
    if (!opener(url))
        logWarning("ferrovan::CNotificationActionListenerLinux::onActionInvoked: Could not open the address");
}

void CNotificationActionListenerLinux::onClosed(const NotificationKey& key)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_urls.erase(key);
}

} // namespace ferrovan
