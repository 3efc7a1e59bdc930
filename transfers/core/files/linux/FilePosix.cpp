#include "core/files/linux/FilePosix.h"

#include <limits>
#include <sys/types.h>

static_assert(sizeof(off_t) == 8, "files beyond 2 GiB need a 64-bit off_t");

namespace fv_transfers {

CFilePosix::~CFilePosix()
{
    close();
}

bool CFilePosix::open(const std::string& path, bool writable)
{
    close();
    if (path.empty())
        return false;
    // "e": the descriptor is not inherited by processes the program starts.
    m_file = std::fopen(path.c_str(), writable ? "r+be" : "rbe");
    m_last = LastOperation::none;
    return m_file != nullptr;
}

void CFilePosix::close()
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool CFilePosix::switchTo(LastOperation next)
{
    bool ok = true;
    if (m_last == LastOperation::write && next == LastOperation::read)
        ok = std::fflush(m_file) == 0;
    else if (m_last == LastOperation::read && next == LastOperation::write)
        ok = ::fseeko(m_file, 0, SEEK_CUR) == 0;
    m_last = next;
    return ok;
}

bool CFilePosix::write(const void* data, int size)
{
    if (!m_file || !data || size <= 0 || !switchTo(LastOperation::write))
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t remaining = static_cast<size_t>(size);
    while (remaining > 0) {
        const size_t written = std::fwrite(bytes, 1, remaining, m_file);
        if (written == 0)
            return false;
        bytes += written;
        remaining -= written;
    }
    // A full disk shows at the flush; nobody checks a close, so it has to show here.
    return std::fflush(m_file) == 0;
}

bool CFilePosix::read(void* buffer, int size, int& count)
{
    if (!m_file || !buffer || size <= 0 || !switchTo(LastOperation::read))
        return false;
    const size_t got = std::fread(buffer, 1, static_cast<size_t>(size), m_file);
    if (got == 0)
        return false;
    count = static_cast<int>(got);
    return true;
}

bool CFilePosix::seek(std::uint64_t offset)
{
    if (!m_file || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return false;
    m_last = LastOperation::none;
    return ::fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::unique_ptr<ILocalFile> createLocalFile()
{
    return std::make_unique<CFilePosix>();
}

} // namespace fv_transfers
