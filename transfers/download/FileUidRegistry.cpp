#include "download/FileUidRegistry.h"

namespace fv_transfers {

bool CFileUidRegistry::claim(const std::string& fileUid, std::int32_t groupId)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const auto inserted = m_holders.emplace(fileUid, groupId);
    return inserted.second || inserted.first->second == groupId;
}

void CFileUidRegistry::release(const std::string& fileUid, std::int32_t groupId)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_holders.find(fileUid);
    if (it != m_holders.end() && it->second == groupId)
        m_holders.erase(it);
}

void CFileUidRegistry::releaseGroup(std::int32_t groupId)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_holders.begin(); it != m_holders.end();)
        it = it->second == groupId ? m_holders.erase(it) : std::next(it);
}

std::int32_t CFileUidRegistry::holderOf(const std::string& fileUid) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_holders.find(fileUid);
    return it == m_holders.end() ? -1 : it->second;
}

} // namespace fv_transfers
