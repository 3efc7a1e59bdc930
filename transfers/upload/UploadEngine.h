#pragma once

#include "framework/TransferEngineBase.h"
#include "records/TransferRecords.h"
#include "upload/UploadEngineCallback.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace fv_transfers {

class CUploadGroup;
class ITransferBufferManager;

// The upload side of the transfer engine: one thread that owns every upload channel of one
// manager. Groups and files only post commands through IUploadEngineCallback; the one buffer
// pool of the engine lives while channels run. A group whose queue is marked (or that was
// cancelled) leaves the group manager here once its last file's channels have left.
class CUploadEngine : public CTransferEngineBase, public IUploadEngineCallback {
public:
    // Payload of the dequeue-file command.
    struct FileDequeuInfo {
        std::int32_t groupId;
        UploadFileDesc file;
    };

    // `bufferManager` null: a dynamic one sized from the free memory.
    CUploadEngine(CGroupManagerBase& groupManager, const Limits& limits,
                  std::shared_ptr<ITransferBufferManager> bufferManager = nullptr);
    ~CUploadEngine() override;

    // IUploadEngineCallback
    void cancelFiles(const IUploadEngineCallback::FileList& files) override;
    void pauseFiles(const IUploadEngineCallback::FileList& files) override;
    void resumeFiles(const IUploadEngineCallback::FileList& files) override;
    void scheduleFileDequeue(std::int32_t groupId, const UploadFileDesc& file) override;
    void addFileChannels(const std::shared_ptr<IUploadFile>& file) override;
    void markGroup(const std::shared_ptr<CUploadGroup>& group) override;
    void wakeUp() override;
    std::shared_ptr<ITransferBufferManager> getBufferManager() override;

    // Both bases declare them; the engine base answers.
    using CTransferEngineBase::hasChannelsOfFile;
    using CTransferEngineBase::resumeGroup;

protected:
    FilePtr getGroupFile(const GroupPtr& group) override;
    bool handleCommand(int code, const Poco::Any& payload) override;
    void onFileChannelsGoneLocked(ITransferFile& file) override;

private:
    bool dispatchCommand(int code, const Poco::Any& payload);
    void handleFileDequeue(const FileDequeuInfo& info);
    void handleMarkGroup(const std::shared_ptr<CUploadGroup>& group);
    // After a cancel has taken a file's channels out, its group forgets or re-creates the file.
    void returnCancelledFiles(const CTransferEngineBase::FileList& files);
    // A group that has ended leaves the manager, so that the engine never asks it for files again.
    void leaveIfFinished(const std::shared_ptr<CUploadGroup>& group);
    // Lets go of the groups that left once nothing of the engine refers to them.
    void releaseLeftGroups();

    // Groups that left the manager, held until no channel of theirs is in the engine's lists.
    // Engine thread only.
    std::vector<std::shared_ptr<CUploadGroup>> m_leftGroups;
};

} // namespace fv_transfers
