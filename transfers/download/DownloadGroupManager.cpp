#include "download/DownloadGroupManager.h"

#include "core/base/ExceptionText.h"
#include "core/log/FvTransfersLogger.h"
#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "download/DownloadEngineCallback.h"
#include "download/FileUidRegistry.h"

namespace fv_transfers {

CDownloadGroupManager::CDownloadGroupManager() : m_fileUids(std::make_shared<CFileUidRegistry>()) {}

CDownloadGroupManager::~CDownloadGroupManager() = default;

void CDownloadGroupManager::setCallbackForAllGroups(CDownloadManager::ICallback* callback)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_callback = callback;
    }
    for (const GroupPtr& group : getGroups()) {
        if (auto download = std::dynamic_pointer_cast<CDownloadGroup>(group))
            download->setCallback(callback);
    }
}

std::shared_ptr<CDownloadGroup> CDownloadGroupManager::findDownloadGroup(std::int32_t groupId) const
{
    return std::dynamic_pointer_cast<CDownloadGroup>(findGroupById(groupId));
}

std::shared_ptr<CDownloadGroupManager::GroupInfoMap> CDownloadGroupManager::getGroupInfo(std::int32_t groupId) const
{
    const std::shared_ptr<CDownloadGroup> group = findDownloadGroup(groupId);
    return group ? group->getGroupInfo() : nullptr;
}

std::int32_t CDownloadGroupManager::findGroupOfFile(const std::string& fileUid) const
{
    return m_fileUids->holderOf(fileUid);
}

void CDownloadGroupManager::setSnapshotRead(bool read)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_snapshotRead = read;
}

void CDownloadGroupManager::setFileEnvironment(const DownloadFileEnvironment& environment)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_fileEnvironment = environment;
}

CGroupManagerBase::GroupPtr CDownloadGroupManager::makeGroup(CDownloadGroup::TransferGroupInitParams& params)
{
    try {
        params.engineCallback = dynamic_cast<IDownloadEngineCallback*>(getEngine());
        params.fileUids = m_fileUids;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            params.fileEnvironment = m_fileEnvironment;
        }
        return std::make_shared<CDownloadGroup>(params);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Error configuring group: Exception: " << exceptionText(e));
        return nullptr;
    }
}

CGroupManagerBase::GroupPtr CDownloadGroupManager::configureGroup(const CGroupsDbInfoBase::GroupInfo& row,
                                                                  std::uint64_t minMultipartSize, bool)
{
    const auto* stored = dynamic_cast<const CDbDownloadGroupInfoAggregator::GroupInfo*>(&row);
    if (!stored) {
        FV_LOG_ERROR("Error configuring group: Exception: not a download group row");
        return nullptr;
    }
    CDownloadGroup::TransferGroupInitParams params;
    params.bucketId = stored->BucketUid;
    params.bucketToken = stored->BucketToken;
    params.bucketType = stored->BucketType;
    params.tokenExpiration = stored->ExpirationDate;
    params.groupId = stored->GroupId;
    params.isNew = false;
    params.tasksExecutor = getTasksExecutor();
    params.downloadPath = stored->DownloadPath;
    params.minMultipartSize = minMultipartSize;
    params.groupInfo = stored->params;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        params.callback = m_callback;
    }
    return makeGroup(params);
}

CGroupManagerBase::GroupPtr CDownloadGroupManager::createGroup(GroupInitParams& params)
{
    auto* given = dynamic_cast<CDownloadGroup::TransferGroupInitParams*>(&params);
    if (!given) {
        FV_LOG_ERROR("Error configuring group: Exception: not download group parameters");
        return nullptr;
    }
    CDownloadGroup::TransferGroupInitParams copy = *given;
    if (!copy.callback) {
        std::lock_guard<std::mutex> lock(m_lock);
        copy.callback = m_callback;
    }
    return makeGroup(copy);
}

bool CDownloadGroupManager::collectGroupInfos(CDbDataLoader& loader, std::vector<GroupInfoPtr>& rows)
{
    for (const CDbDownloadGroupInfoAggregator::GroupInfo& row : loader.downloadGroups())
        rows.push_back(std::make_shared<CDbDownloadGroupInfoAggregator::GroupInfo>(row));
    std::lock_guard<std::mutex> lock(m_lock);
    return m_snapshotRead;
}

bool CDownloadGroupManager::selectMaxStoredGroupId(std::int32_t& maxGroupId)
{
    return CDbHolder::getInstance()->getDownloadGroupInfoAggregator()->selectMaxGroupId(maxGroupId);
}

} // namespace fv_transfers
