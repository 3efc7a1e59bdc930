#include "shell/PrivateFileChannel.h"

#include <Poco/NumberParser.h>

#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferrovan {

void PrivateFileChannel::log(const Poco::Message& msg)
{
    if (path().empty())
        return;
    const Poco::UInt64 before = size(); // 0 while closed
    if (before == 0)
        makePrivate();
    try {
        Poco::FileChannel::log(msg);
    } catch (const std::exception&) {
        close();
        return;
    }
    // A rotation, also one on opening an oversized file, leaves a smaller file than before.
    if (before == 0 || size() < before) {
        makePrivate();
        purgeRotated();
    }
}

void PrivateFileChannel::setProperty(const std::string& name, const std::string& value)
{
    if (name == PROP_PURGECOUNT)
        m_purgeCount = value.empty() ? -1 : Poco::NumberParser::parse(value);
    else
        Poco::FileChannel::setProperty(name, value);
}

std::string PrivateFileChannel::getProperty(const std::string& name) const
{
    if (name == PROP_PURGECOUNT)
        return m_purgeCount < 0 ? std::string() : std::to_string(m_purgeCount);
    return Poco::FileChannel::getProperty(name);
}

void PrivateFileChannel::makePrivate() const
{
    const int fd = ::open(path().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    ::fchmod(fd, 0600);
    ::close(fd);
}

void PrivateFileChannel::purgeRotated() const
{
    if (m_purgeCount < 0)
        return;
    // Rotation numbers the files without gaps, so the first missing number ends the run.
    for (int n = m_purgeCount; ::unlink((path() + "." + std::to_string(n)).c_str()) == 0; ++n) {
    }
}

} // namespace ferrovan
