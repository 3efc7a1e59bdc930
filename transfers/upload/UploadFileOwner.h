#pragma once

#include "framework/TransferManagerBase.h"

#include <cstdint>
#include <string>

namespace fv_transfers {

class IUploadEngineCallback;

// The group of an upload file, as the file sees it. Set at construction and never changed, so the
// identity calls take no lock. The file calls notifyFileState without holding its own lock (lock
// order: group, then file).
class IUploadFileOwner {
public:
    virtual ~IUploadFileOwner() = default;

    virtual std::int32_t getGroupId() const = 0;
    virtual void getBucketId(std::string& bucketId) const = 0;
    virtual void getBucketToken(std::string& token) const = 0;
    // Whether the group's verify setting asks for MD5 digests of multipart files and parts.
    virtual bool verifyUploads() const = 0;
    // May be null (tests without an engine).
    virtual IUploadEngineCallback* getUploadEngine() = 0;
    // A file's progress or outcome. `delta` is the bytes sent since the last event; `state` has
    // the file's state, error code and byte counts (the group fills its uid, bucket id and group
    // id). `reinitOnError`: the file changed on disk and must be re-created before it runs
    // again. Takes the group's lock; ignored once the group is cancelled.
    virtual void notifyFileState(const std::string& fileUid, std::int64_t delta, CTransferManagerBase::FileState& state,
                                 bool reinitOnError) = 0;
    // The file's upload was opened again: it runs anew, from new channels, once the engine has let
    // go of the old ones. Nothing is reported. Takes the group's lock.
    virtual void restartFile(const std::string& fileUid) = 0;
};

} // namespace fv_transfers
