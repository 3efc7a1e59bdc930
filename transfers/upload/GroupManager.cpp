#include "upload/GroupManager.h"

#include "core/base/ExceptionText.h"
#include "core/log/FvTransfersLogger.h"
#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "upload/UploadEngineCallback.h"

namespace fv_transfers {

CGroupManager::CGroupManager() = default;

CGroupManager::~CGroupManager() = default;

void CGroupManager::setCallbackForAllGroups(CUploadManager::ICallback* callback)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_callback = callback;
    }
    for (const GroupPtr& group : getGroups()) {
        if (auto upload = std::dynamic_pointer_cast<CUploadGroup>(group))
            upload->setCallback(callback);
    }
}

std::shared_ptr<CUploadGroup> CGroupManager::findUploadGroup(std::int32_t groupId) const
{
    return std::dynamic_pointer_cast<CUploadGroup>(findGroupById(groupId));
}

void CGroupManager::setFileEnvironment(const UploadFileEnvironment& environment)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_fileEnvironment = environment;
}

void CGroupManager::setSnapshotRead(bool read)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_snapshotRead = read;
}

CGroupManagerBase::GroupPtr CGroupManager::makeGroup(CUploadGroup::TransferGroupInitParams& params)
{
    try {
        params.engineCallback = dynamic_cast<IUploadEngineCallback*>(getEngine());
        {
            std::lock_guard<std::mutex> lock(m_lock);
            params.fileEnvironment = m_fileEnvironment;
            if (!params.callback)
                params.callback = m_callback;
        }
        return std::make_shared<CUploadGroup>(params);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Error configuring group: Exception: " << exceptionText(e));
        return nullptr;
    }
}

CGroupManagerBase::GroupPtr CGroupManager::configureGroup(const CGroupsDbInfoBase::GroupInfo& row,
                                                          std::uint64_t minMultipartSize, bool verify)
{
    const auto* stored = dynamic_cast<const CGroupsDbInfo::GroupInfo*>(&row);
    if (!stored) {
        FV_LOG_ERROR("Error configuring group: Exception: not an upload group row");
        return nullptr;
    }
    CUploadGroup::TransferGroupInitParams params;
    params.bucketId = stored->BucketUid;
    params.bucketToken = stored->BucketToken;
    params.bucketType = stored->BucketType;
    params.tokenExpiration = stored->ExpirationDate;
    params.groupId = stored->GroupId;
    params.isNew = false;
    params.tasksExecutor = getTasksExecutor();
    params.minMultipartSize = minMultipartSize;
    params.verify = verify;
    params.marked = stored->Marked;
    GroupPtr group = makeGroup(params);
    // Its files are restored after this returns and it is listed after that; the engine's
    // command runs later still, and completes the group when every restored file is done.
    if (group && stored->Marked && params.engineCallback)
        params.engineCallback->markGroup(std::static_pointer_cast<CUploadGroup>(group));
    return group;
}

CGroupManagerBase::GroupPtr CGroupManager::createGroup(GroupInitParams& params)
{
    auto* given = dynamic_cast<CUploadGroup::TransferGroupInitParams*>(&params);
    if (!given) {
        FV_LOG_ERROR("Error configuring group: Exception: not upload group parameters");
        return nullptr;
    }
    CUploadGroup::TransferGroupInitParams copy = *given;
    return makeGroup(copy);
}

bool CGroupManager::collectGroupInfos(CDbDataLoader& loader, std::vector<GroupInfoPtr>& rows)
{
    for (const CGroupsDbInfo::GroupInfo& row : loader.uploadGroups())
        rows.push_back(std::make_shared<CGroupsDbInfo::GroupInfo>(row));
    std::lock_guard<std::mutex> lock(m_lock);
    return m_snapshotRead;
}

bool CGroupManager::selectMaxStoredGroupId(std::int32_t& maxGroupId)
{
    return CDbHolder::getInstance()->getGroupsDbInfo()->selectMaxGroupId(maxGroupId);
}

} // namespace fv_transfers
