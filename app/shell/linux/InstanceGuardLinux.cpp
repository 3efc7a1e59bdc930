#include "shell/linux/InstanceGuardLinux.h"

#include <Poco/Path.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>

namespace ferrovan {

std::unique_ptr<IInstanceGuard> createInstanceGuard(const std::string& appDataDirectory)
{
    return std::make_unique<CInstanceGuardLinux>(appDataDirectory);
}

CInstanceGuardLinux::CInstanceGuardLinux(const std::string& appDataDirectory)
    : m_lockPath(Poco::Path(Poco::Path::forDirectory(appDataDirectory), "instance.lock").toString())
{
}

InstanceGuardState CInstanceGuardLinux::acquire()
{
    if (m_lock)
        return InstanceGuardState::Held;
    auto lock = std::make_unique<FileDescriptor>(::open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock->get() < 0) {
        m_error = "cannot open " + m_lockPath + ": " + std::strerror(errno);
        return InstanceGuardState::Unavailable;
    }
    int result;
    do
        result = ::flock(lock->get(), LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (errno == EWOULDBLOCK)
            return InstanceGuardState::HeldByAnother;
        m_error = "cannot lock " + m_lockPath + ": " + std::strerror(errno);
        return InstanceGuardState::Unavailable;
    }
    m_lock = std::move(lock);
    return InstanceGuardState::Held;
}

std::string CInstanceGuardLinux::getError() const
{
    return m_error;
}

} // namespace ferrovan
