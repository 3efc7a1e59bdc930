#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>
#include <vector>

namespace fv_test {

struct HandoffCall {
    std::string method;
    std::vector<std::string> paths;
};

// Stands in for the main program on the session bus: owns its name, serves `Send` and `Share`
// (`as`) at its object path, and records each call. Calls are answered on the context that was
// the thread's default when the owner was made.
class FakeHandoffOwner {
public:
    using CallListener = std::function<void(const HandoffCall&)>;

    // Throws when the name is owned already.
    explicit FakeHandoffOwner(GDBusConnection* connection, CallListener listener = {});
    ~FakeHandoffOwner();
    FakeHandoffOwner(const FakeHandoffOwner&) = delete;
    FakeHandoffOwner& operator=(const FakeHandoffOwner&) = delete;

    const std::vector<HandoffCall>& calls() const { return m_calls; }

private:
    static void onMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);

    GDBusConnection* m_connection;
    GDBusNodeInfo* m_node = nullptr;
    guint m_registration = 0;
    CallListener m_listener;
    std::vector<HandoffCall> m_calls;
};

// A connection of its own to the session bus, apart from GIO's shared one.
GDBusConnection* openSeparateSessionConnection();

} // namespace fv_test
