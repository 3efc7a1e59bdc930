#pragma once

#include <gio/gio.h>

#include <memory>

namespace ferrovan {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using SessionBusPtr = std::unique_ptr<GDBusConnection, GObjectUnref>;

// The process's shared session-bus connection, or null (logged for `caller`) when the session
// has no bus: the desktop services behind it are then simply absent. Its closing never ends the
// process.
SessionBusPtr connectSessionBus(const char* caller);

} // namespace ferrovan
