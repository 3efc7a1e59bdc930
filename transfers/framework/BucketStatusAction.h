#pragma once

#include "core/rest/TransferRestRecords.h"
#include "framework/TransferGroup.h"

#include <memory>

namespace fv_transfers {

// What the answer about a group's bucket asks of the group. Made, executed once and dropped.
class IBucketStatusAction {
public:
    virtual ~IBucketStatusAction() = default;
    virtual void execute() = 0;
};

class CBucketStatusActionBase : public IBucketStatusAction {
public:
    explicit CBucketStatusActionBase(std::shared_ptr<ITransferGroup> group) : m_group(std::move(group)) {}

protected:
    const std::shared_ptr<ITransferGroup> m_group;
};

// The bucket is gone: the group is cancelled, its temporary files and rows removed. It is never
// reported as completed.
class CCancelExpiredGroupAction : public CBucketStatusActionBase {
public:
    using CBucketStatusActionBase::CBucketStatusActionBase;
    void execute() override;
};

class CPauseGroupAction : public CBucketStatusActionBase {
public:
    using CBucketStatusActionBase::CBucketStatusActionBase;
    void execute() override;
};

// The action for a group, or null when it is to be left alone. `nowMs` is the wall clock in ms
// since 1970 (the bucket's age is a date difference).
std::unique_ptr<IBucketStatusAction> createBucketStatusAction(const BucketStatusInfo& status,
                                                              const std::shared_ptr<ITransferGroup>& group,
                                                              bool download, std::int64_t nowMs);

} // namespace fv_transfers
