#pragma once

#include "framework/TransferFile.h"
#include "framework/TransferManagerBase.h"
#include "records/TransferRecords.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace fv_transfers {

class ITransferChannel;

// An upload file as its group and the engine see it. Implemented by CUploadFileBase and its
// single-part and multipart kinds (CUploadFileFactory makes them).
//
// Nothing here blocks on the network or on the file's task: the REST work (details, multipart
// initialize, digests) runs on the tasks executor, and a file still being prepared answers
// kNotReady; it wakes the engine (IUploadEngineCallback::wakeUp) when it is ready.
class IUploadFile : public virtual ITransferFile {
public:
    // prepareUpload's answer while the file's preparation runs on the executor.
    static constexpr int kNotReady = -1;

    ~IUploadFile() override = default;

    // Whether the group must call prepareUpload before the engine may start the file's channels.
    virtual bool needsInitialization() = 0;
    // The group starts the file. 0: ready, its channels to send are in getChannels (none when the
    // file completed without a transfer: a restored file whose parts were all sent). kNotReady:
    // still being prepared. Otherwise the dt_error that failed it: 9 the local file cannot be
    // read, 10 it changed since it was queued, 12 the multipart upload could not be opened or
    // stored, 11 the service no longer takes the file (the file has asked for its dequeue),
    // 6 the file was released.
    virtual int prepareUpload() = 0;
    // The channels still to send, in part order.
    virtual void getChannels(std::vector<std::shared_ptr<ITransferChannel>>& channels) = 0;
    // Makes an errored file ready to run again (its unsent channels are sent again; a file that
    // changed on disk is prepared from scratch).
    virtual void resetErroredFlag() = 0;
    // The file leaves its group for good (dequeued, cancelled, re-created): pending work gives
    // up and its upload at the service is abandoned, best effort, off the caller's thread.
    virtual void cancel() = 0;
    // Stops listening to its channels and the disk; the file does nothing afterwards.
    virtual void releaseResources() = 0;
    // Deletes the file's channel rows and its file row.
    virtual bool removeFromDb() = 0;

    virtual void getFileDesc(UploadFileDesc& desc) = 0;
    virtual std::uint64_t getTotalSize() = 0;
    // Progress and state under the file's lock (the group fills the ids).
    virtual void getFileState(CTransferManagerBase::FileState& state) = 0;
};

} // namespace fv_transfers
