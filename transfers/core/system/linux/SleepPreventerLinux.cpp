#include "core/system/linux/SleepPreventerLinux.h"

#include "core/log/FvTransfersLogger.h"
#include "core/system/linux/SystemBusLinux.h"

#include <unistd.h>

namespace fv_transfers {

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
    const LogindInhibitResult result =
        takeLogindInhibitor({"sleep", "fv-transfers", "Transfers in progress", "block"}, m_busTimeout);
    if (result.fd < 0)
        FV_LOG_WARNING("fv_transfers::CSleepPreventerLinux::prevent: " << result.error);
    m_inhibitorFd = result.fd;
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
