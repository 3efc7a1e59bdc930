#pragma once

#include "shell/linux/SessionBusLinux.h"

#include <gio/gio.h>

#include <chrono>
#include <string>

namespace ferrovan {

class HandOffHub;
class ILogger;

// The hand-off on the session bus: the program's name (the application id) with the object that
// takes Send(as), Share(as) and ActivateApp() from the file manager's plug-in and from second
// starts, and passes them to the hub. GDBus checks each call's signature against the object's
// description before it gets here. There is no call that sets the handler: that is the program's
// own, in-process. The object is registered on the main thread's default context, so calls run
// on the UI thread once its loop runs, and wait in the context until then.
class CHandoffServiceLinux {
public:
    // How long start waits for the name when another connection still holds it: the instance this
    // one replaces holds it a moment after it has let go of the guard.
    static constexpr std::chrono::milliseconds kDefaultNameWait{5000};

    // `hub` must outlive the service. Each call is logged in the program's log.
    explicit CHandoffServiceLinux(HandOffHub& hub, std::chrono::milliseconds nameWait = kDefaultNameWait);
    ~CHandoffServiceLinux();
    CHandoffServiceLinux(const CHandoffServiceLinux&) = delete;
    CHandoffServiceLinux& operator=(const CHandoffServiceLinux&) = delete;

    // Registers the object, then owns the name, at once, before any loop runs. False, with the
    // reason in `startLog`, when there is no session bus or the name stays taken: the program then
    // runs without the hand-off. On the main thread.
    bool start(ILogger* startLog);

private:
    bool registerObject(ILogger* startLog);
    bool ownName(ILogger* startLog);
    void stop();
    void onMethodCall(const char* method, GVariant* parameters, GDBusMethodInvocation* invocation);
    static void dispatchMethodCall(GDBusConnection*, const char* sender, const char* path, const char* interface,
                                   const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                                   gpointer self);

    HandOffHub& m_hub;
    std::chrono::milliseconds m_nameWait;
    SessionBusPtr m_bus;
    guint m_registration = 0;
    bool m_ownsName = false;
};

} // namespace ferrovan
