#pragma once

#include <memory>
#include <string>

namespace ferrovan {

// What the current user may do with a local path, as a bit mask.
class IFilePermissionsRetriever {
public:
    static constexpr int kReadable = 1;
    static constexpr int kWritable = 2;

    virtual ~IFilePermissionsRetriever() = default;
    // kReadable and kWritable as they apply to `path`; 0 for a path that does not exist.
    virtual int getPermissions(const std::string& path) = 0;
};

std::unique_ptr<IFilePermissionsRetriever> createFilePermissionsRetriever();

} // namespace ferrovan
