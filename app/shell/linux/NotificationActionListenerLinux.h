#pragma once

#include "shell/linux/SessionBusLinux.h"

#include <gio/gio.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace ferrovan {

// The session's notification daemon: its bus name and interface share one name.
constexpr const char* kNotificationDaemonName = "org.freedesktop.Notifications";
constexpr const char* kNotificationDaemonPath = "/org/freedesktop/Notifications";

// Opens the address of a notification the user activates. Process-wide, because the notifier
// that sent the notification is usually gone by then: it subscribes once to the notification
// daemon's signals, in the main context of the thread that first watches (the UI thread), and
// keeps the address of each notification until the daemon reports it closed. Ids count per
// daemon, so a notification is known by the daemon's unique bus name and its id: a restarted
// daemon's notification 1 is not the old daemon's.
class CNotificationActionListenerLinux {
public:
    // Answers whether the address was opened.
    using UrlOpener = std::function<bool(const std::string& url)>;

    static CNotificationActionListenerLinux& getInstance();

    ~CNotificationActionListenerLinux();
    CNotificationActionListenerLinux(const CNotificationActionListenerLinux&) = delete;
    CNotificationActionListenerLinux& operator=(const CNotificationActionListenerLinux&) = delete;

    // Subscribes on `bus` unless already subscribed there; a new connection (the session bus
    // came back) replaces the old one.
    void watch(GDBusConnection* bus);
    // `daemon` is the unique bus name that answered the notification with `id`.
    void remember(const std::string& daemon, guint32 id, const std::string& url);
    // Replaces the opener; an empty one restores the default (the desktop's browser).
    void setUrlOpener(UrlOpener opener);

private:
    CNotificationActionListenerLinux();

    using NotificationKey = std::pair<std::string, guint32>; // the daemon, the id

    static void onSignal(GDBusConnection* bus, const gchar* sender, const gchar* path, const gchar* interface,
                         const gchar* signal, GVariant* parameters, gpointer self);
    void onActionInvoked(const NotificationKey& key, const std::string& action);
    void onClosed(const NotificationKey& key);

    std::mutex m_lock;
    SessionBusPtr m_bus;
    guint m_subscription = 0;
    std::map<NotificationKey, std::string> m_urls;
    UrlOpener m_opener;
};

} // namespace ferrovan
