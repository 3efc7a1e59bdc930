#include "core/files/LocalFileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace fv_transfers {

namespace {

uint64_t toMs(const struct statx_timestamp& time)
{
    if (time.tv_sec < 0)
        return 0;
    return static_cast<uint64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}

} // namespace

bool readLocalFileInfo(const std::string& path, LocalFileInfo& info)
{
    struct statx status {};
    if (path.empty() || ::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT,
                                STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME, &status) != 0)
        return false;
    if (!(status.stx_mask & STATX_TYPE) || !S_ISREG(status.stx_mode))
        return false;
    info.size = status.stx_size;
    info.modifiedMs = toMs(status.stx_mtime);
    // Not every file system keeps a birth time; ctime would be the last metadata change.
    info.createdMs = (status.stx_mask & STATX_BTIME) ? toMs(status.stx_btime) : info.modifiedMs;
    return true;
}

} // namespace fv_transfers
