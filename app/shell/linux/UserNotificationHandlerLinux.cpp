#include "shell/linux/UserNotificationHandlerLinux.h"

#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/WebUrl.h"
#include "shell/linux/NotificationActionListenerLinux.h"
#include "shell/linux/SessionBusLinux.h"

#include "AppConfig.h"

#include <gio/gio.h>

namespace ferrovan {

namespace {

// -1: the daemon's own time-out.
const gint32 kDefaultTimeout = -1;

GVariant* notifyParameters(const UserNotification& notification, bool openable)
{
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    if (openable) {
        // "default" is what a click on the notification itself invokes.
        g_variant_builder_add(&actions, "s", "default");
        g_variant_builder_add(&actions, "s", "Open");
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(FV_APP_ID));
    return g_variant_new("(susssasa{sv}i)", FV_PRODUCT_NAME, 0u, FV_APP_ID, notification.title.c_str(),
                         notification.message.c_str(), &actions, &hints, kDefaultTimeout);
}

void logNotifyFailure(const std::string& reason)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_INFORMATION,
            "ferrovan::CUserNotificationHandlerLinux::notify: " + reason);
}

// The whole reply message is read, for the daemon's unique name beside the id.
void keepNotifyReply(GObject* bus, GAsyncResult* result, const std::string& address)
{
    GError* error = nullptr;
    GDBusMessage* reply = g_dbus_connection_send_message_with_reply_finish(G_DBUS_CONNECTION(bus), result, &error);
    if (reply && g_dbus_message_to_gerror(reply, &error)) {
        g_object_unref(reply);
        reply = nullptr;
    }
    if (!reply) {
        logNotifyFailure(error->message);
        g_error_free(error);
        return;
    }
    GVariant* body = g_dbus_message_get_body(reply);
    const gchar* daemon = g_dbus_message_get_sender(reply);
    if (body && daemon && g_variant_is_of_type(body, G_VARIANT_TYPE("(u)")) && !address.empty()) {
        guint32 id = 0;
        g_variant_get(body, "(u)", &id);
        CNotificationActionListenerLinux::getInstance().remember(daemon, id, address);
    }
    g_object_unref(reply);
}

// Owns `url`, the address to open on activation (empty when there is none).
void onNotifyReply(GObject* bus, GAsyncResult* result, gpointer url)
{
    const std::unique_ptr<std::string> address(static_cast<std::string*>(url));
    guardCallback("ferrovan::CUserNotificationHandlerLinux::onNotifyReply",
                  [&] { keepNotifyReply(bus, result, *address); });
}

} // namespace

void CUserNotificationHandlerLinux::notify(const UserNotification& notification)
{
    const SessionBusPtr bus = connectSessionBus("ferrovan::CUserNotificationHandlerLinux::notify");
    if (!bus)
        return;
    const bool openable = isWebUrl(notification.url);
    if (openable)
        CNotificationActionListenerLinux::getInstance().watch(bus.get());
    GDBusMessage* call = g_dbus_message_new_method_call(kNotificationDaemonName, kNotificationDaemonPath,
                                                        kNotificationDaemonName, "Notify");
    g_dbus_message_set_body(call, notifyParameters(notification, openable));
    auto url = std::make_unique<std::string>(openable ? notification.url : std::string());
    g_dbus_connection_send_message_with_reply(bus.get(), call, G_DBUS_SEND_MESSAGE_FLAGS_NONE, -1, nullptr, nullptr,
                                              onNotifyReply, url.release());
    g_object_unref(call);
}

std::unique_ptr<IUserNotificationHandler> createUserNotificationHandler()
{
    return std::make_unique<CUserNotificationHandlerLinux>();
}

} // namespace ferrovan
