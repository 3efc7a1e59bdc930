#pragma once

#include "core/files/FileAttributesModifier.h"

namespace fv_transfers {

// File times through utimensat, to the millisecond and past 2038.
class CFileAttributesModifierLinux : public IFileAttributesModifier {
public:
    CFileAttributesModifierLinux() = default;
    ~CFileAttributesModifierLinux() override = default;

    // The file must exist; its path is kept (no descriptor: a file without read permission
    // can still have its times set by its owner).
    bool open(const std::wstring& path) override;
    void close() override;
    bool setModificationTime(std::uint64_t msSince1970) override;
    // Linux keeps the birth time read-only. Succeeds without changing anything on an open
    // modifier, so callers that copy all times of a file keep working.
    bool setCreationTime(std::uint64_t msSince1970) override;

private:
    std::string m_path; // UTF-8; empty when closed
};

} // namespace fv_transfers
