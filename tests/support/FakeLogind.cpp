#include "support/FakeLogind.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_THREAD__)
// GLib and GIO synchronise their threads (the D-Bus worker, main contexts, slice magazines)
// with their own futex-based locks, which ThreadSanitizer cannot see; their internals are not
// instrumented either. Built into every test that talks D-Bus, whatever TSAN_OPTIONS says.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n"
           "race:libglib-2.0.so.0\n"
           "race:libgio-2.0.so.0\n"
           "race:libgobject-2.0.so.0\n";
}
#endif

namespace fv_test {

namespace {

const char* const kAddressVariable = "DBUS_SYSTEM_BUS_ADDRESS";
const char* const kLogindName = "org.freedesktop.login1";
const char* const kLogindPath = "/org/freedesktop/login1";
const char* const kMockInterface = "org.freedesktop.DBus.Mock";
const char* const kManagerInterface = "org.freedesktop.login1.Manager";
const auto kStartDeadline = std::chrono::seconds(30);

void setSystemBusAddress(const std::string& address, std::string& previous, bool& hadPrevious)
{
    const char* old = std::getenv(kAddressVariable);
    hadPrevious = old != nullptr;
    previous = old ? old : "";
    ::setenv(kAddressVariable, address.c_str(), 1);
}

void restoreSystemBusAddress(const std::string& previous, bool hadPrevious)
{
    if (hadPrevious)
        ::setenv(kAddressVariable, previous.c_str(), 1);
    else
        ::unsetenv(kAddressVariable);
}

std::string busConfig(const std::string& socketPath)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>system</type>\n"
           "  <listen>unix:path=" +
           socketPath +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_type=\"method_call\"/>\n"
           "    <allow send_type=\"signal\"/>\n"
           "    <allow send_type=\"method_return\"/>\n"
           "    <allow send_type=\"error\"/>\n"
           "    <allow receive_type=\"method_call\"/>\n"
           "    <allow receive_type=\"signal\"/>\n"
           "    <allow receive_type=\"method_return\"/>\n"
           "    <allow receive_type=\"error\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

fv_transfers::DBusConnectionPtr connectWithin(const std::string& address, std::chrono::steady_clock::time_point end)
{
    for (;;) {
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (connection) {
            g_dbus_connection_set_exit_on_close(connection, FALSE);
            return fv_transfers::DBusConnectionPtr(connection);
        }
        if (std::chrono::steady_clock::now() > end)
            throw std::runtime_error("private bus did not start at " + address);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool nameHasOwner(GDBusConnection* connection, const char* name)
{
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    return owned;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logPath)
{
    // Everything the child needs is made before the fork: only async-signal-safe calls follow.
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (log < 0)
        throw std::runtime_error("cannot open " + logPath);
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        // A crashed test must not leave the child behind.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(log);
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
}

ChildProcess::~ChildProcess()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) != 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
}

bool ChildProcess::isRunning()
{
    return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0;
}

NoSystemBus::NoSystemBus()
{
    setSystemBusAddress("unix:path=" + m_dir.file("no-bus"), m_previous, m_hadPrevious);
}

NoSystemBus::~NoSystemBus()
{
    restoreSystemBusAddress(m_previous, m_hadPrevious);
}

SilentSystemBus::SilentSystemBus()
{
    const std::string path = m_dir.file("silent-bus");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        throw std::runtime_error("socket path too long: " + path);
    path.copy(address.sun_path, path.size());
    m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Never accepted: the kernel completes the clients' connects into the backlog.
    if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_socket, 16) != 0) {
        if (m_socket >= 0)
            ::close(m_socket);
        throw std::runtime_error("cannot listen on " + path);
    }
    setSystemBusAddress("unix:path=" + path, m_previous, m_hadPrevious);
}

SilentSystemBus::~SilentSystemBus()
{
    restoreSystemBusAddress(m_previous, m_hadPrevious);
    ::close(m_socket);
}

FakeLogind::FakeLogind()
{
    const auto end = std::chrono::steady_clock::now() + kStartDeadline;
    const std::string socketPath = m_dir.file("system_bus_socket");
    writeFile(m_dir.file("bus.conf"), busConfig(socketPath));
    m_address = "unix:path=" + socketPath;
    setSystemBusAddress(m_address, m_previous, m_hadPrevious);
    try {
        m_bus =
            std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/dbus-daemon", "--nofork", "--nopidfile",
                                                                    "--config-file=" + m_dir.file("bus.conf")},
                                           m_dir.file("bus.log"));
        m_connection = connectWithin(m_address, end);
        // The fake reads DBUS_SYSTEM_BUS_ADDRESS, set above, to find its bus.
        m_logind = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template", "logind"},
            m_dir.file("logind.log"));
        while (!nameHasOwner(m_connection.get(), kLogindName)) {
            if (std::chrono::steady_clock::now() > end || !m_logind->isRunning())
                throw std::runtime_error("fake logind did not start: " + readFile(m_dir.file("logind.log")));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    } catch (...) {
        m_connection.reset();
        m_logind.reset();
        m_bus.reset();
        restoreSystemBusAddress(m_previous, m_hadPrevious);
        throw;
    }
}

FakeLogind::~FakeLogind()
{
    if (m_connection)
        g_dbus_connection_close_sync(m_connection.get(), nullptr, nullptr);
    m_connection.reset();
    m_logind.reset();
    m_bus.reset();
    restoreSystemBusAddress(m_previous, m_hadPrevious);
}

GVariant* FakeLogind::call(const char* interface, const char* method, GVariant* parameters, const char* replyType)
{
    GError* error = nullptr;
    GVariant* reply =
        g_dbus_connection_call_sync(m_connection.get(), kLogindName, kLogindPath, interface, method, parameters,
                                    G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!reply)
        throw std::runtime_error(std::string("fake logind call ") + method +
                                 " failed: " + fv_transfers::takeGError(error));
    return reply;
}

void FakeLogind::emit(const char* name, bool value)
{
    GVariantBuilder args;
    g_variant_builder_init(&args, G_VARIANT_TYPE("av"));
    g_variant_builder_add(&args, "v", g_variant_new_boolean(value));
    g_variant_unref(
        call(kMockInterface, "EmitSignal", g_variant_new("(sssav)", kManagerInterface, name, "b", &args), "()"));
}

void FakeLogind::emitPrepareForSleep(bool suspending)
{
    emit("PrepareForSleep", suspending);
}

void FakeLogind::emitPrepareForShutdown(bool shuttingDown)
{
    emit("PrepareForShutdown", shuttingDown);
}

std::vector<FakeLogind::Inhibitor> FakeLogind::listInhibitors()
{
    GVariant* reply = call(kManagerInterface, "ListInhibitors", nullptr, "(a(ssssuu))");
    GVariantIter* iter = nullptr;
    g_variant_get(reply, "(a(ssssuu))", &iter);
    std::vector<Inhibitor> result;
    const gchar *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    guint32 uid = 0, pid = 0;
    while (g_variant_iter_next(iter, "(&s&s&s&suu)", &what, &who, &why, &mode, &uid, &pid))
        result.push_back(Inhibitor{what, who, why, mode});
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    return result;
}

bool FakeLogind::waitForInhibitorCount(std::size_t count, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (listInhibitors().size() == count)
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace fv_test
