#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace fv_transfers {

// Which download group holds a file uid. A file's rows are keyed by its uid alone, so two groups
// downloading one uid would share them and one group's completion would delete the other's rows.
// Its lock is innermost: groups call it under their own lock.
class CFileUidRegistry {
public:
    // True when the uid is free or already held by `groupId`; it is then held by `groupId`.
    bool claim(const std::string& fileUid, std::int32_t groupId);
    // Only the holder can let a uid go.
    void release(const std::string& fileUid, std::int32_t groupId);
    void releaseGroup(std::int32_t groupId);
    // The holding group's id, or -1.
    std::int32_t holderOf(const std::string& fileUid) const;

private:
    mutable std::mutex m_lock;
    std::map<std::string, std::int32_t> m_holders;
};

} // namespace fv_transfers
