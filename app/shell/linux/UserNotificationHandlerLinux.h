#pragma once

#include "shell/UserNotificationHandler.h"

namespace ferrovan {

// A desktop notification through the session's notification daemon. The call is asynchronous,
// so a slow daemon never holds the UI thread; the daemon's answer, the notification's id, goes
// to the process-wide listener that opens the address on activation. Without a session bus or
// a daemon nothing is shown.
class CUserNotificationHandlerLinux : public IUserNotificationHandler {
public:
    void notify(const UserNotification& notification) override;
};

} // namespace ferrovan
