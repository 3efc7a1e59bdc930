#include "framework/BucketStatusAction.h"

#include "core/log/FvTransfersLogger.h"

#include <string>

namespace fv_transfers {

namespace {

constexpr std::int64_t kWeekMs = 604800000;

} // namespace

// Only the group's cancel: marking the files done first would report the group completed before
// it is cancelled.
void CCancelExpiredGroupAction::execute()
{
    m_group->cancel();
}

void CPauseGroupAction::execute()
{
    m_group->pause();
}

std::unique_ptr<IBucketStatusAction> createBucketStatusAction(const BucketStatusInfo& status,
                                                              const std::shared_ptr<ITransferGroup>& group,
                                                              bool download, std::int64_t nowMs)
{
    std::string id;
    group->getBucketId(id);
    if (status.status == BUCKET_STATUS_EXPIRED || status.status == BUCKET_STATUS_DELETED) {
        FV_LOG_INFO("Bucket with id " << id
                                      << " has expired or has been deleted. Corresponding group will be canceled");
        return std::make_unique<CCancelExpiredGroupAction>(group);
    }
    if (download)
        return nullptr;
    if (status.uploadAllowed) {
        // Without a creation time the age is unknown, and nothing may be decided on it.
        if (!status.createdKnown)
            return nullptr;
        const std::int64_t age = nowMs - static_cast<std::int64_t>(status.created);
        if (age < kWeekMs)
            return nullptr;
        FV_LOG_INFO("Bucket with id " << id
                                      << " is too old. Corresponding group will be paused. Bucket age ms: " << age);
        return std::make_unique<CPauseGroupAction>(group);
    }
    FV_LOG_INFO("Upload to a bucket with id " << id << " is not allowed. Corresponding group will be paused");
    return std::make_unique<CPauseGroupAction>(group);
}

} // namespace fv_transfers
