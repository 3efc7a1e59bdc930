#include "core/files/linux/FileAttributesModifierLinux.h"

#include "core/base/StringConversion.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/Error.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace fv_transfers {

namespace {

timespec toTimespec(std::uint64_t msSince1970)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(msSince1970 / 1000);
    ts.tv_nsec = static_cast<long>(msSince1970 % 1000) * 1000000L;
    return ts;
}

} // namespace

bool CFileAttributesModifierLinux::open(const std::wstring& path)
{
    close();
    std::string utf8 = wideToUtf8(path);
    struct stat info {};
    if (utf8.empty() || ::stat(utf8.c_str(), &info) != 0)
        return false;
    m_path.swap(utf8);
    return true;
}

void CFileAttributesModifierLinux::close()
{
    m_path.clear();
}

bool CFileAttributesModifierLinux::setModificationTime(std::uint64_t msSince1970)
{
    if (m_path.empty())
        return false;
    const timespec times[2] = {toTimespec(msSince1970), toTimespec(msSince1970)}; // access, modification
    if (::utimensat(AT_FDCWD, m_path.c_str(), times, 0) != 0) {
        const int error = errno;
        FV_LOG_ERROR("CFileAttributesModifierLinux::setModificationTime: " << m_path << ": "
                                                                           << Poco::Error::getMessage(error));
        return false;
    }
    return true;
}

bool CFileAttributesModifierLinux::setCreationTime(std::uint64_t)
{
    if (m_path.empty())
        return false;
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        FV_LOG_DEBUG(
            "CFileAttributesModifierLinux::setCreationTime: the birth time cannot be set on Linux; left as is");
    return true;
}

} // namespace fv_transfers
