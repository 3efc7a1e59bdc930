#pragma once

#include <cstdint>
#include <string>

namespace fv_transfers {

// Sets the times of an existing file; times are milliseconds since 1970-01-01 UTC.
class IFileAttributesModifier {
public:
    virtual ~IFileAttributesModifier() = default;

    virtual bool open(const std::wstring& path) = 0;
    virtual void close() = 0;
    // Sets the last-write and last-access times; false when not open or the system refuses.
    virtual bool setModificationTime(std::uint64_t msSince1970) = 0;
    virtual bool setCreationTime(std::uint64_t msSince1970) = 0;
};

} // namespace fv_transfers
