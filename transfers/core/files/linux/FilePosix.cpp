#include "core/files/linux/FilePosix.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/types.h>
#include <unistd.h>

static_assert(sizeof(off_t) == 8, "files beyond 2 GiB need a 64-bit off_t");

namespace fv_transfers {

namespace {

constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
// What one system call may be asked to move; Linux moves at most about 2 GiB per call, and the
// write loop takes the rest.
constexpr std::size_t kMaxChunk = static_cast<std::size_t>(std::numeric_limits<ssize_t>::max());

} // namespace

CFilePosix::~CFilePosix()
{
    close();
}

bool CFilePosix::fail(int error)
{
    m_lastError = error;
    return false;
}

bool CFilePosix::usable(const void* pointer, std::size_t size)
{
    if (m_fd < 0)
        return fail(EBADF);
    if (!pointer || size == 0)
        return fail(EINVAL);
    return true;
}

bool CFilePosix::open(const std::string& path, bool writable)
{
    close();
    if (path.empty())
        return fail(ENOENT);
    // O_CLOEXEC: the descriptor is not inherited by processes the program starts.
    const int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    int fd = -1;
    do
        fd = ::open(path.c_str(), flags);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(errno);
    m_fd = fd;
    m_position = 0;
    return true;
}

void CFilePosix::close()
{
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    m_fd = -1;
    m_position = 0;
    // Never retried: Linux releases the descriptor even when close reports EINTR, and another
    // thread may already have been given the same number.
    if (::close(fd) != 0)
        m_lastError = errno;
}

bool CFilePosix::readAt(void* buffer, std::size_t size, std::uint64_t offset, std::size_t& count)
{
    if (!usable(buffer, size))
        return false;
    if (offset > kMaxOffset)
        return fail(EINVAL);
    for (;;) {
        const ssize_t got = ::pread(m_fd, buffer, std::min(size, kMaxChunk), static_cast<off_t>(offset));
        if (got >= 0) {
            count = static_cast<std::size_t>(got);
            return true;
        }
        if (errno != EINTR)
            return fail(errno);
    }
}

bool CFilePosix::writeAt(const void* data, std::size_t size, std::uint64_t offset)
{
    if (!usable(data, size))
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        if (offset > kMaxOffset)
            return fail(EFBIG);
        const ssize_t put = ::pwrite(m_fd, bytes, std::min(size, kMaxChunk), static_cast<off_t>(offset));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        // No progress and no reason given: failing beats spinning.
        if (put == 0)
            return fail(EIO);
        bytes += put;
        size -= static_cast<std::size_t>(put);
        offset += static_cast<std::uint64_t>(put);
    }
    return true;
}

bool CFilePosix::sync()
{
    if (m_fd < 0)
        return fail(EBADF);
    int result = 0;
    do
        result = ::fdatasync(m_fd);
    while (result != 0 && errno == EINTR);
    return result == 0 || fail(errno);
}

void CFilePosix::startWriteback(std::uint64_t offset, std::uint64_t size)
{
    // Without it the page cache holds the whole range until the final sync, which then waits for
    // all of it; errors, if any, come back from that sync.
    if (m_fd >= 0 && size > 0)
        ::sync_file_range(m_fd, static_cast<off64_t>(offset), static_cast<off64_t>(size), SYNC_FILE_RANGE_WRITE);
}

bool CFilePosix::write(const void* data, std::size_t size)
{
    if (!writeAt(data, size, m_position))
        return false;
    m_position += size;
    return true;
}

bool CFilePosix::read(void* buffer, std::size_t size, std::size_t& count)
{
    std::size_t got = 0;
    if (!readAt(buffer, size, m_position, got) || got == 0)
        return false;
    m_position += got;
    count = got;
    return true;
}

bool CFilePosix::seek(std::uint64_t offset)
{
    if (m_fd < 0)
        return fail(EBADF);
    if (offset > kMaxOffset)
        return fail(EINVAL);
    m_position = offset;
    return true;
}

std::unique_ptr<ILocalFile> createLocalFile()
{
    return std::make_unique<CFilePosix>();
}

} // namespace fv_transfers
