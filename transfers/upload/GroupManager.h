#pragma once

#include "framework/GroupManagerBase.h"
#include "upload/UploadFileFactory.h"
#include "upload/UploadGroup.h"
#include "upload/UploadManager.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace fv_transfers {

// The upload groups: made from new parameters (addGroup with CUploadGroup's
// TransferGroupInitParams) or from stored rows (restoreGroups with the minimal multipart size as
// its value and the verify setting as its flag), each given the manager's engine. A restored
// group whose queue was marked is marked through the engine, once it is listed.
class CGroupManager : public CGroupManagerBase {
public:
    CGroupManager();
    ~CGroupManager() override;

    // Also the callback of groups restored or made later; null unsubscribes.
    void setCallbackForAllGroups(CUploadManager::ICallback* callback);
    std::shared_ptr<CUploadGroup> findUploadGroup(std::int32_t groupId) const;
    // Given to the files of every group made afterwards.
    void setFileEnvironment(const UploadFileEnvironment& environment);
    // What the start-up load answered (default true); without a snapshot, new ids start above
    // the stored maximum.
    void setSnapshotRead(bool read);

protected:
    GroupPtr configureGroup(const CGroupsDbInfoBase::GroupInfo& row, std::uint64_t minMultipartSize,
                            bool verify) override;
    GroupPtr createGroup(GroupInitParams& params) override;
    bool collectGroupInfos(CDbDataLoader& loader, std::vector<GroupInfoPtr>& rows) override;
    bool selectMaxStoredGroupId(std::int32_t& maxGroupId) override;

private:
    GroupPtr makeGroup(CUploadGroup::TransferGroupInitParams& params);

    mutable std::mutex m_lock; // guards everything below; never held while a group is called
    CUploadManager::ICallback* m_callback = nullptr;
    UploadFileEnvironment m_fileEnvironment;
    bool m_snapshotRead = true;
};

} // namespace fv_transfers
