#pragma once

#include "framework/TransferEngineCallback.h"
#include "records/TransferRecords.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace fv_transfers {

class CUploadGroup;
class IUploadFile;
class ITransferBufferManager;

// What upload groups and files ask of their engine. Every call only posts a command to the
// engine thread and returns at once, so it may be made from any thread and under a group's or a
// file's lock (the engine may not run yet: commands wait in its queue).
class IUploadEngineCallback : public virtual ITransferEngineCallback {
public:
    using FileList = std::vector<std::shared_ptr<IUploadFile>>;

    ~IUploadEngineCallback() override = default;

    // Stops and removes every channel of the files; the group's removeFile follows per file.
    virtual void cancelFiles(const FileList& files) = 0;
    virtual void pauseFiles(const FileList& files) = 0;
    virtual void resumeFiles(const FileList& files) = 0;
    // Removes one file from the group of that id on the engine thread (a file the service no
    // longer takes).
    virtual void scheduleFileDequeue(std::int32_t groupId, const UploadFileDesc& file) = 0;
    // Makes the file's channels known to the engine (parked until the file is started).
    virtual void addFileChannels(const std::shared_ptr<IUploadFile>& file) = 0;
    // Marks the group's queue on the engine thread (a restored marked group).
    virtual void markGroup(const std::shared_ptr<CUploadGroup>& group) = 0;
    // Asks the engine to look for startable work again (a file's preparation has ended).
    virtual void wakeUp() = 0;
    // The one buffer pool of the engine, shared by all its files' channels; initialised while
    // channels run and released when the engine goes idle.
    virtual std::shared_ptr<ITransferBufferManager> getBufferManager() = 0;
};

} // namespace fv_transfers
