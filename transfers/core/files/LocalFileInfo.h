#pragma once

#include <cstdint>
#include <string>

namespace fv_transfers {

// What the service is told about a local file when it is registered.
struct LocalFileInfo {
    uint64_t size = 0;
    uint64_t createdMs = 0;  // ms since 1970 UTC; the modification time where no birth time is kept
    uint64_t modifiedMs = 0; // ms since 1970 UTC
};

// False for anything but an existing regular file (UTF-8 path); `info` is set only on success.
bool readLocalFileInfo(const std::string& path, LocalFileInfo& info);

} // namespace fv_transfers
