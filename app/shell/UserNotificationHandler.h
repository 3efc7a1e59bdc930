#pragma once

#include <memory>
#include <string>

namespace ferrovan {

// An event of the web application shown to the user; `url` is opened when the user activates
// the notification, if it is an http or https address.
struct UserNotification {
    std::string title;
    std::string message;
    std::string url;
};

// Shows desktop notifications. Used on the UI thread; a notifier may be destroyed right after
// notify, and the notification still opens its address when activated.
class IUserNotificationHandler {
public:
    virtual ~IUserNotificationHandler() = default;
    virtual void notify(const UserNotification& notification) = 0;
};

std::unique_ptr<IUserNotificationHandler> createUserNotificationHandler();

} // namespace ferrovan
