#pragma once

#include "download/DownloadFile.h"
#include "download/DownloadGroup.h"
#include "download/DownloadManager.h"
#include "framework/GroupManagerBase.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace fv_transfers {

class CFileUidRegistry;

// The download groups: made from new parameters (addGroup with CDownloadGroup's
// TransferGroupInitParams) or from stored rows (restoreGroups with the minimal multipart size as
// its value), each given the manager's engine. It also knows which group holds a file uid, so
// that one uid is never downloaded by two groups at once.
class CDownloadGroupManager : public CGroupManagerBase {
public:
    using GroupInfoMap = CDownloadManager::GroupInfoMap;

    CDownloadGroupManager();
    ~CDownloadGroupManager() override;

    // Also the callback of groups restored or made later; null unsubscribes.
    void setCallbackForAllGroups(CDownloadManager::ICallback* callback);
    std::shared_ptr<CDownloadGroup> findDownloadGroup(std::int32_t groupId) const;
    // The map the group was made with (the same object), rebuilt from the database after a
    // restart; null when the group is unknown or has none.
    std::shared_ptr<GroupInfoMap> getGroupInfo(std::int32_t groupId) const;
    // The id of the group downloading that file, or -1.
    std::int32_t findGroupOfFile(const std::string& fileUid) const;
    // What the start-up load answered (default true); without a snapshot, new ids start above
    // the stored maximum.
    void setSnapshotRead(bool read);
    // Given to the files of every group made afterwards.
    void setFileEnvironment(const DownloadFileEnvironment& environment);

protected:
    GroupPtr configureGroup(const CGroupsDbInfoBase::GroupInfo& row, std::uint64_t minMultipartSize,
                            bool flag) override;
    GroupPtr createGroup(GroupInitParams& params) override;
    bool collectGroupInfos(CDbDataLoader& loader, std::vector<GroupInfoPtr>& rows) override;
    bool selectMaxStoredGroupId(std::int32_t& maxGroupId) override;

private:
    GroupPtr makeGroup(CDownloadGroup::TransferGroupInitParams& params);

    const std::shared_ptr<CFileUidRegistry> m_fileUids;
    mutable std::mutex m_lock; // guards everything below; never held while a group is called
    CDownloadManager::ICallback* m_callback = nullptr;
    bool m_snapshotRead = true;
    DownloadFileEnvironment m_fileEnvironment;
};

} // namespace fv_transfers
