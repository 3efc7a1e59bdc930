#include "core/system/linux/SleepDelayInhibitorLinux.h"

#include "core/log/FvTransfersLogger.h"
#include "core/system/linux/SystemBusLinux.h"

#include <unistd.h>

namespace fv_transfers {

std::unique_ptr<ISleepDelayInhibitor> createSleepDelayInhibitor(std::chrono::milliseconds busTimeout)
{
    return std::make_unique<CSleepDelayInhibitorLinux>(busTimeout);
}

CSleepDelayInhibitorLinux::CSleepDelayInhibitorLinux(std::chrono::milliseconds busTimeout) : m_busTimeout(busTimeout) {}

CSleepDelayInhibitorLinux::~CSleepDelayInhibitorLinux()
{
    release();
}

bool CSleepDelayInhibitorLinux::hold()
{
    std::uint64_t releases = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_fd >= 0)
            return true;
        releases = m_releases;
    }
    const LogindInhibitResult result =
        takeLogindInhibitor({"sleep", "fv-transfers", "Stopping transfers", "delay"}, m_busTimeout);
    std::lock_guard<std::mutex> lock(m_lock);
    if (result.fd < 0) {
        // Without a bus there will not be one later either: say so once.
        if (!result.noBus || !m_warnedNoBus)
            FV_LOG_WARNING("fv_transfers::CSleepDelayInhibitorLinux::hold: " << result.error);
        m_warnedNoBus = m_warnedNoBus || result.noBus;
        return false;
    }
    if (releases != m_releases || m_fd >= 0) {
        // Released meanwhile (or held by another call): this one is not wanted.
        ::close(result.fd);
        return m_fd >= 0;
    }
    m_fd = result.fd;
    return true;
}

void CSleepDelayInhibitorLinux::release()
{
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_releases;
    if (m_fd < 0)
        return;
    // Linux releases the descriptor even when close reports an error.
    ::close(m_fd);
    m_fd = -1;
}

bool CSleepDelayInhibitorLinux::isHeld() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_fd >= 0;
}

} // namespace fv_transfers
