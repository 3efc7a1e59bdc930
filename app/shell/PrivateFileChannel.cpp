#include "shell/PrivateFileChannel.h"

#include <Poco/NumberParser.h>

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferrovan {

namespace {

bool missing(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) != 0 && errno == ENOENT;
}

} // namespace

void PrivateFileChannel::log(const Poco::Message& msg)
{
    if (path().empty() || m_spoiled)
        return;
    // A rotation would fail on a removed file and spoil the channel; nothing has rotated since
    // the last line, so closing is still safe, and the open below makes the file anew.
    if (missing(path()))
        close();
    const Poco::UInt64 before = size(); // 0 while closed
    if (before == 0)
        makePrivate();
    try {
        open(); // unlike a failed line, a failed open (the folder gone) leaves nothing to free
    } catch (const std::exception&) {
        return;
    }
    try {
        Poco::FileChannel::log(msg);
    } catch (const std::exception&) {
        m_spoiled = true;
        duplicate(); // never released: the channel's end would free its file a second time
        return;
    }
    // A rotation, also one on opening an oversized file, leaves a smaller file than before.
    if (before == 0 || size() < before) {
        makePrivate();
        purgeRotated();
    }
}

void PrivateFileChannel::close()
{
    if (!m_spoiled)
        Poco::FileChannel::close();
}

Poco::AutoPtr<PrivateFileChannel> PrivateFileChannel::replacement() const
{
    Poco::AutoPtr<PrivateFileChannel> channel = Poco::makeAuto<PrivateFileChannel>();
    for (const std::string& name : {PROP_PATH, PROP_ROTATION, PROP_PURGECOUNT, PROP_FLUSH}) {
        const std::string value = getProperty(name);
        if (!value.empty())
            channel->setProperty(name, value);
    }
    return channel;
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
