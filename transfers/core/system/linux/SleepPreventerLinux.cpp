#include "core/system/linux/SleepPreventerLinux.h"

#include "core/log/FvTransfersLogger.h"
#include "core/system/linux/SystemBusLinux.h"

#include <gio/gunixfdlist.h>

#include <chrono>

#include <unistd.h>

namespace fv_transfers {

namespace {

// The inhibitor's descriptor, or -1 with the reason logged.
int takeSleepInhibitor(std::chrono::milliseconds busTimeout)
{
    std::string error;
    DBusConnectionPtr bus = openPrivateSystemBusWithin(error, busTimeout);
    if (!bus) {
        FV_LOG_WARNING("fv_transfers::CSleepPreventerLinux::prevent: no system bus: " << error);
        return -1;
    }
    GUnixFDList* fds = nullptr;
    GError* gerror = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
        g_variant_new("(ssss)", "sleep", "fv-transfers", "Transfers in progress", "block"), G_VARIANT_TYPE("(h)"),
        G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(busTimeout.count()), nullptr, &fds, nullptr, &gerror);
    if (!reply) {
        FV_LOG_WARNING("fv_transfers::CSleepPreventerLinux::prevent: Inhibit failed: " << takeGError(gerror));
        return -1;
    }
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    g_variant_unref(reply);
    int fd = -1;
    if (fds) {
        // get() duplicates the descriptor; the list closes its own copy.
        fd = g_unix_fd_list_get(fds, index, &gerror);
        if (fd < 0)
            FV_LOG_WARNING("fv_transfers::CSleepPreventerLinux::prevent: no descriptor: " << takeGError(gerror));
        g_object_unref(fds);
    }
    // The bus connection is not needed to keep the inhibitor: the descriptor is.
    g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
    return fd;
}

} // namespace

CSleepPreventerLinux::CSleepPreventerLinux(std::chrono::milliseconds busTimeout) : m_busTimeout(busTimeout) {}

CSleepPreventerLinux::~CSleepPreventerLinux()
{
    if (isPreventing())
        allow();
}

bool CSleepPreventerLinux::prevent()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_inhibitorFd >= 0)
        return true;
    m_inhibitorFd = takeSleepInhibitor(m_busTimeout);
    return m_inhibitorFd >= 0;
}

bool CSleepPreventerLinux::isPreventing()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_inhibitorFd >= 0;
}

bool CSleepPreventerLinux::allow()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_inhibitorFd < 0)
        return true;
    // Linux releases the descriptor even when close reports an error, so it is gone either way.
    ::close(m_inhibitorFd);
    m_inhibitorFd = -1;
    return true;
}

} // namespace fv_transfers
