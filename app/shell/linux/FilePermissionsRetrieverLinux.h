#pragma once

#include "shell/FilePermissionsRetriever.h"

namespace ferrovan {

// access() with the real user and group, so ownership, modes, ACLs and read-only mounts all
// count, and root is answered as root.
class FilePermissionsRetrieverLinux : public IFilePermissionsRetriever {
public:
    int getPermissions(const std::string& path) override;
};

} // namespace ferrovan
