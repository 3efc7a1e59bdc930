#pragma once

#include <gio/gio.h>

#include <chrono>
#include <memory>
#include <string>

namespace fv_transfers {

struct GObjectUnref {
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
using DBusConnectionPtr = std::unique_ptr<GDBusConnection, GObjectUnref>;

// A connection of our own to the system bus. GIO's shared connection ends the whole process
// when the bus goes away, and would tie the library to the main program's use of it.
// Null, with the reason in `error`, when there is no usable bus or `cancel` was cancelled.
DBusConnectionPtr openPrivateSystemBus(std::string& error, GCancellable* cancel = nullptr);
// The same, given up when the bus has not let us in within `limit`.
DBusConnectionPtr openPrivateSystemBusWithin(std::string& error, std::chrono::milliseconds limit);

// What logind's Inhibit is asked for (see logind's documentation for the words).
struct LogindInhibitRequest {
    const char* what;
    const char* who;
    const char* why;
    const char* mode;
};
struct LogindInhibitResult {
    int fd = -1;        // the inhibitor: closing it lets it go
    bool noBus = false; // no system bus could be reached
    std::string error;  // why there is no descriptor ("no system bus: ...", "Inhibit failed: ...")
};
// Connects, asks logind and disconnects, each step given up after `busTimeout`. The descriptor
// alone keeps the inhibitor; it belongs to the caller.
LogindInhibitResult takeLogindInhibitor(const LogindInhibitRequest& request, std::chrono::milliseconds busTimeout);

// The message of the error, which is freed; "unknown error" for null.
std::string takeGError(GError* error);

} // namespace fv_transfers
