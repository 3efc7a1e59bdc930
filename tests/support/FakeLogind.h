#pragma once

#include "core/linux/SystemBusLinux.h"
#include "support/TestEnvironment.h"

#include <gio/gio.h>

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace fv_test {

// A child process that is killed (and reaped) with this object, and with the test process.
class ChildProcess {
public:
    // Runs the program with stdout and stderr going to `logPath`.
    ChildProcess(const std::vector<std::string>& argv, const std::string& logPath);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool isRunning();

private:
    pid_t m_pid = -1;
};

// Points DBUS_SYSTEM_BUS_ADDRESS at a socket where no bus listens, for the life of the object.
class NoSystemBus {
public:
    NoSystemBus();
    ~NoSystemBus();

private:
    TempDir m_dir;
    std::string m_previous;
    bool m_hadPrevious;
};

// Points DBUS_SYSTEM_BUS_ADDRESS at a socket that takes connections and never answers, as a
// hung bus does, for the life of the object.
class SilentSystemBus {
public:
    SilentSystemBus(); // throws std::runtime_error when the socket cannot be made
    ~SilentSystemBus();
    SilentSystemBus(const SilentSystemBus&) = delete;
    SilentSystemBus& operator=(const SilentSystemBus&) = delete;

private:
    TempDir m_dir;
    int m_socket = -1;
    std::string m_previous;
    bool m_hadPrevious = false;
};

// A private message bus standing in for the system bus, with python3-dbusmock's logind on it.
// DBUS_SYSTEM_BUS_ADDRESS points at it for the object's life. Throws std::runtime_error when
// the bus or the fake cannot be started.
class FakeLogind {
public:
    struct Inhibitor {
        std::string what, who, why, mode;
    };

    FakeLogind();
    ~FakeLogind();
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    const std::string& address() const { return m_address; }

    void emitPrepareForSleep(bool suspending);
    // Another signal of the manager, which carries a bool too.
    void emitPrepareForShutdown(bool shuttingDown);
    std::vector<Inhibitor> listInhibitors();
    // Waits (bounded) until logind lists `count` inhibitors; false when it never did.
    bool waitForInhibitorCount(std::size_t count, int timeoutMs = 5000);

private:
    GVariant* call(const char* interface, const char* method, GVariant* parameters, const char* replyType);
    void emit(const char* name, bool value);

    TempDir m_dir;
    std::string m_address;
    std::string m_previous;
    bool m_hadPrevious;
    std::unique_ptr<ChildProcess> m_bus;
    std::unique_ptr<ChildProcess> m_logind;
    fv_transfers::DBusConnectionPtr m_connection;
};

} // namespace fv_test
