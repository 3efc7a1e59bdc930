#pragma once

#include "framework/TransferEngineCallback.h"
#include "records/TransferRecords.h"

#include <memory>
#include <vector>

namespace fv_transfers {

class CDownloadFile;
class CDownloadGroup;
class ITransferBufferManager;

// What download groups and files ask of their engine. Every call only posts a command to the
// engine thread and returns at once (the engine may not run yet: commands wait in its queue).
class IDownloadEngineCallback : public virtual ITransferEngineCallback {
public:
    using FileList = std::vector<std::shared_ptr<CDownloadFile>>;

    ~IDownloadEngineCallback() override = default;

    // Stops and removes every channel of the files; the group's removeFile follows per file.
    virtual void cancelFiles(const FileList& files) = 0;
    virtual void pauseFiles(const FileList& files) = 0;
    virtual void resumeFiles(const FileList& files) = 0;
    // Makes the file's channels known to the engine (parked until the file is started).
    virtual void addFileChannels(const std::shared_ptr<CDownloadFile>& file) = 0;
    // Hands new files to the group's addFiles on the engine thread.
    virtual void initFiles(const std::shared_ptr<CDownloadGroup>& group,
                           const std::vector<FileDownloadDetails>& files) = 0;
    // Asks the engine to look for startable work again (a file's preparation has ended).
    virtual void wakeUp() = 0;
    // The one buffer pool of the engine, shared by all its files' channels; initialised while
    // channels run and released when the engine goes idle.
    virtual std::shared_ptr<ITransferBufferManager> getBufferManager() = 0;
};

} // namespace fv_transfers
