#pragma once

#include "core/files/TargetFileSystem.h"

namespace fv_transfers {

// Temporary files made with O_EXCL under the user's umask, space reserved with fallocate
// (never posix_fallocate: glibc's fallback writes zeros over the whole size), rename(2) and a
// folder fsync for the swap.
class CTargetFileSystemLinux : public ITargetFileSystem {
public:
    int createFolders(const std::string& folder) override;
    int createTempFile(const std::string& finalPath, std::string& tempPath) override;
    int preallocate(const std::string& path, std::uint64_t size) override;
    int rename(const std::string& from, const std::string& to) override;
    int syncFolder(const std::string& folder) override;
    int setModificationTime(const std::string& path, std::uint64_t msSince1970) override;
    int removeFile(const std::string& path) override;
    TargetFileStatus status(const std::string& path) override;
};

} // namespace fv_transfers
