#pragma once

#include "db/DownloadFilesDbInfo.h"
#include "framework/TransferFileBase.h"
#include "framework/TransferManagerBase.h"
#include "framework/TrasfersAsyncTasksExecutor.h"
#include "download/DownloadUrlSource.h"
#include "records/TransferRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

class IDownloadFileOwner;
class ITransferBufferManager;

// One file of a download group: its final and temporary paths, its download details, its
// division into ranges (one download channel each) and its completion into the final name.
// Network work other than file data (details, a fresh URL, the manifest) runs on the tasks
// executor; the engine never waits for it.
class CDownloadFile : public CTransferFileBase,
                      public CTrasfersAsyncTasksExecutor::IAsyncTask,
                      public IDownloadUrlSource,
                      public std::enable_shared_from_this<CDownloadFile> {
public:
    // Results of prepareForTransfer besides dt_error codes (0 ready, 9 local file error, other:
    // the details task's error).
    static constexpr int kUpToDate = 6;  // the final file is already there; nothing to download
    static constexpr int kNotReady = -1; // details or plan still being fetched; ask again later

    CDownloadFile(std::shared_ptr<CTrasfersAsyncTasksExecutor> executor, std::uint64_t minMultipartSize,
                  std::shared_ptr<ITransferBufferManager> bufferManager);
    ~CDownloadFile() override;

    // A new file of `owner`: paths resolved under `downloadFolder` (a local folder), row stored,
    // details task posted. 0, or a dt_error (9: the path cannot be placed under the folder).
    int initialize(const std::wstring& downloadFolder, const FileDownloadDetails& details, IDownloadFileOwner* owner);
    // A file rebuilt from its stored row and the start-up snapshot's channel rows.
    int restoreFromDb(const std::wstring& downloadFolder, const CDownloadFilesDbInfo::FileInfo& row,
                      IDownloadFileOwner* owner);

    bool needsPreparation();
    // Called by the group when it starts the file; never blocks on the network.
    int prepareForTransfer();
    // Makes an errored or parked file ready to run again.
    void resume();
    // The group cancelled the file: pending work gives up, the temporary file goes on release.
    void cancel();
    void release();
    bool removeFromDb();

    void getDetails(FileDownloadDetails& details);
    void getChannels(std::vector<std::shared_ptr<ITransferChannel>>& channels);
    void fillProgress(CTransferManagerBase::FileState& snapshot);
    std::uint64_t getBytesDownloaded();

    // ITransferFile
    void getFileUid(std::string& uid) override;
    void getBucketId(std::string& bucketId) override;
    int getGroupId() override;

    // IDownloadUrlSource
    int getDownloadUrl(std::string& url, bool force) override;

    // IAsyncTask: fetches the details, and the manifest and the plan when asked.
    int exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>& params, const CStopToken& stop) override;
};

} // namespace fv_transfers
