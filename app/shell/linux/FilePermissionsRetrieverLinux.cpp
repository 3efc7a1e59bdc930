#include "shell/linux/FilePermissionsRetrieverLinux.h"

#include <unistd.h>

namespace ferrovan {

int FilePermissionsRetrieverLinux::getPermissions(const std::string& path)
{
    int permissions = 0;
    // c_str() would cut the path at a NUL and answer for another file.
    if (path.empty() || path.find('\0') != std::string::npos)
        return permissions;
    if (::access(path.c_str(), R_OK) == 0)
        permissions |= kReadable;
    if (::access(path.c_str(), W_OK) == 0)
        permissions |= kWritable;
    return permissions;
}

std::unique_ptr<IFilePermissionsRetriever> createFilePermissionsRetriever()
{
    return std::make_unique<FilePermissionsRetrieverLinux>();
}

} // namespace ferrovan
