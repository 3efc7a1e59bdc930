#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace fv_transfers {

// One group (the files of one bucket) as engines, group managers and the failed-group restarter
// handle it. Groups are always held by std::shared_ptr: the restarter keeps a weak reference,
// so a group destroyed while due is dropped, never used.
class ITransferGroup : public std::enable_shared_from_this<ITransferGroup> {
public:
    virtual ~ITransferGroup() = default;

    virtual void pause() = 0;
    // Asks the group's engine to resume the group on the engine thread; `automatic` keeps the
    // retry counter. Returns at once; nothing happens without an engine.
    virtual void requestResume(bool automatic) = 0;
    virtual void cancel() = 0;
    virtual bool isPaused() = 0;
    virtual void restoreFilesFromDb() = 0;
    // Marks every file done; used before cancelling a group whose bucket is gone.
    virtual void resetFileEntries() = 0;
    // Set at construction and never changed: no lock.
    virtual const std::string& getBucketIdRef() const = 0;
    virtual void getBucketId(std::string& bucketId) const = 0;
    virtual void getBucketToken(std::string& token) const = 0;
    virtual std::int32_t getGroupId() const = 0;
    // Engine thread only.
    virtual void resumeGroupAsync(bool automatic) = 0;
    virtual void setRetryCounterLocked(std::uint32_t value, bool save) = 0;
};

} // namespace fv_transfers
