#pragma once

#include "download/DownloadEngineCallback.h"
#include "framework/TransferEngineBase.h"
#include "records/TransferRecords.h"

#include <memory>
#include <vector>

namespace fv_transfers {

class CDownloadGroup;
class ITransferBufferManager;

// The download side of the transfer engine: one thread that owns every download channel of one
// manager. Groups and files only post commands through IDownloadEngineCallback; the one buffer
// pool of the engine lives while channels run.
class CDownloadEngine : public CTransferEngineBase, public IDownloadEngineCallback {
public:
    // Payload of the initialise-files command.
    struct FileInitInfo {
        std::shared_ptr<CDownloadGroup> group;
        std::vector<FileDownloadDetails> files;
    };

    // `bufferManager` null: a dynamic one sized from the free memory.
    CDownloadEngine(CGroupManagerBase& groupManager, const Limits& limits,
                    std::shared_ptr<ITransferBufferManager> bufferManager = nullptr);
    ~CDownloadEngine() override;

    // IDownloadEngineCallback
    void cancelFiles(const IDownloadEngineCallback::FileList& files) override;
    void pauseFiles(const IDownloadEngineCallback::FileList& files) override;
    void resumeFiles(const IDownloadEngineCallback::FileList& files) override;
    void addFileChannels(const std::shared_ptr<CDownloadFile>& file) override;
    void initFiles(const std::shared_ptr<CDownloadGroup>& group,
                   const std::vector<FileDownloadDetails>& files) override;
    void wakeUp() override;
    std::shared_ptr<ITransferBufferManager> getBufferManager() override;

    // Both bases declare them; the engine base answers.
    using CTransferEngineBase::hasChannelsOfFile;
    using CTransferEngineBase::resumeGroup;

protected:
    FilePtr getGroupFile(const GroupPtr& group) override;
    bool handleCommand(int code, const Poco::Any& payload) override;

private:
    // After a cancel has taken a file's channels out, its group forgets or re-creates the file.
    void returnCancelledFiles(const CTransferEngineBase::FileList& files);
};

} // namespace fv_transfers
