#pragma once

#include "core/files/TargetFileSystem.h"
#include "core/rest/TransferRestRecords.h"
#include "db/DownloadChannelsDbInfo.h"
#include "db/DownloadFilesDbInfo.h"
#include "download/DownloadChannel.h"
#include "download/DownloadPlan.h"
#include "download/DownloadUrlSource.h"
#include "framework/TransferFileBase.h"
#include "framework/TransferManagerBase.h"
#include "framework/TransferProgressTracker.h"
#include "framework/TrasfersAsyncTasksExecutor.h"
#include "records/TransferRecords.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

class IDownloadFileOwner;
class ITransferBufferManager;

// What a download file takes from its surroundings; tests replace parts of it.
struct DownloadFileEnvironment {
    // Null: the tables of the process's database.
    std::shared_ptr<CDownloadFilesDbInfo> files;
    std::shared_ptr<CDownloadChannelsDbInfo> channels;
    // Null: the platform's.
    std::shared_ptr<ITargetFileSystem> fileSystem;
    ChannelSeams channelSeams;
    DownloadCheckpointPolicy checkpoints;
    // How long a channel waits for the file's URL refresh.
    std::chrono::milliseconds urlWait{120000};
};

// One file of a download group: its final and temporary paths, its download details, its
// division into ranges (one download channel each) and its completion into the final name.
// Network work other than file data (details, a fresh URL, the manifest) and the disk work of
// preparing the temporary file run on the tasks executor; the engine never waits for it.
//
// The final file is never touched before the download is complete: the temporary file, made
// beside it under an unguessable name, replaces it in one rename. Completion order: rename,
// folder sync, times, rows removed; a crash anywhere in between is finished on restore.
class CDownloadFile : public CTransferFileBase,
                      public CTrasfersAsyncTasksExecutor::IAsyncTask,
                      public IDownloadUrlSource,
                      public std::enable_shared_from_this<CDownloadFile> {
public:
    // Results of prepareForTransfer besides dt_error codes (0 ready, 9 local file error, other:
    // the details task's error).
    static constexpr int kUpToDate = 6;  // the final file is already there; nothing to download
    static constexpr int kNotReady = -1; // details or plan still being fetched; ask again later

    // `bufferManager` null: the engine's pool (the owner's getDownloadEngine()).
    CDownloadFile(std::shared_ptr<CTrasfersAsyncTasksExecutor> executor, std::uint64_t minMultipartSize,
                  std::shared_ptr<ITransferBufferManager> bufferManager,
                  DownloadFileEnvironment environment = DownloadFileEnvironment());
    ~CDownloadFile() override;

    // A new file of `owner`: paths resolved under `downloadFolder` (a local folder), row stored,
    // details task posted. 0, or a dt_error (9: the path cannot be placed under the folder).
    int initialize(const std::wstring& downloadFolder, const FileDownloadDetails& details, IDownloadFileOwner* owner);
    // A file rebuilt from its stored row and the start-up snapshot's channel rows.
    int restoreFromDb(const std::wstring& downloadFolder, const CDownloadFilesDbInfo::FileInfo& row,
                      IDownloadFileOwner* owner);
    // The same with the file's channel rows given.
    int restoreFromDb(const std::wstring& downloadFolder, const CDownloadFilesDbInfo::FileInfo& row,
                      const std::vector<CDownloadChannelsDbInfo::ChannelInfo>& channelRows, IDownloadFileOwner* owner);

    // Where a file of `relativePath` goes under `downloadFolder` (a local folder): unsafe
    // characters replaced, never outside the folder. False when it cannot be placed there.
    static bool finalPathFor(const std::wstring& downloadFolder, const std::wstring& relativePath,
                             std::string& finalPath);

    bool needsPreparation();
    // Called by the group when it starts the file; never blocks on the network or a task. While
    // the plan is not ready it returns kNotReady and the engine is woken (wakeUp) when it is.
    int prepareForTransfer();
    // Makes an errored or parked file ready to run again.
    void resume();
    // The group cancelled the file: pending work gives up, the temporary file goes on release.
    void cancel();
    void release();
    bool removeFromDb();

    void getDetails(FileDownloadDetails& details);
    // The channels of the ranges still to download.
    void getChannels(std::vector<std::shared_ptr<ITransferChannel>>& channels);
    void fillProgress(CTransferManagerBase::FileState& snapshot);
    std::uint64_t getBytesDownloaded();
    // UTF-8; empty until initialised. Two files of a group must not share one.
    std::string getFinalPath();
    // UTF-8; empty until the temporary file exists.
    std::string getTempPath();

    // ITransferFile
    void getFileUid(std::string& uid) override;
    void getBucketId(std::string& bucketId) override;
    int getGroupId() override;

    // IDownloadUrlSource: one refresh in flight however many channels ask; a waiting channel
    // gives up at the environment's urlWait, when the file is cancelled or the executor ends.
    int getDownloadUrl(std::string& url, bool force) override;

    // IAsyncTask: the preparation (up-to-date check, details, manifest, plan, temporary file,
    // channels), or the finishing of a restored file whose ranges are all done.
    int exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>& params, const CStopToken& stop) override;

private:
    class UrlRefreshTask;
    enum class Stage {
        needsPlan,   // the preparation task must divide the file and make the temporary file
        needsFinish, // restored with every range done: the task puts the file in place
        ready,       // channels built over an existing temporary file
        done,        // the final file is in place
    };
    using Lock = std::unique_lock<std::mutex>;

    int resolvePaths(const std::wstring& downloadFolder, const std::wstring& relativePath);
    void postPreparation(Lock& lock);
    int runPreparation(const CStopToken& stop);
    int planAndCreate(const CStopToken& stop);
    int finishRestored(const CStopToken& stop);
    bool isUpToDate();
    bool finalMatchesRanges(const std::vector<PlannedRange>& ranges);
    int fetchDetails(RestDownloadDetails& details);
    int fetchManifest(const std::string& url, DownloadManifest& manifest, bool& usable);
    int createTempFile(std::uint64_t size);
    bool storePlan(const std::vector<PlannedRange>& ranges);
    void buildChannels(const std::vector<PlannedRange>& ranges, const std::vector<std::uint64_t>& checkpoints,
                       const std::vector<bool>& done);
    void discardPlan();
    int refreshUrl();
    bool urlValid() const;
    // Rename, folder sync, times, rows; 0 or the failed step's errno.
    int putInPlace(const std::string& tempPath);
    void removeRows();
    void completeDownload();
    void onChannelState(const void* sender, ITransferChannel::StateEventData& data);
    void onChannelProgress(const void* sender, Poco::Int64& delta);
    ITransferChannel* channelOf(const void* sender);
    CTransferManagerBase::FileState snapshotLocked(std::int32_t state, std::int32_t errorCode);
    void notifyOwner(std::int64_t delta, const CTransferManagerBase::FileState& snapshot, bool discard);
    std::string logPrefix() const;

    // Weak: a queued task holds its file, so a file holding its executor would keep both alive.
    const std::weak_ptr<CTrasfersAsyncTasksExecutor> m_executor;
    const std::uint64_t m_partSize;
    std::shared_ptr<ITransferBufferManager> m_buffers;
    const DownloadFileEnvironment m_environment;
    std::shared_ptr<UrlRefreshTask> m_urlTask;

    // Under fileLock.
    FileDownloadDetails m_details;
    IDownloadFileOwner* m_owner = nullptr; // called without fileLock: the group's lock comes first
    std::int32_t m_groupId = 0;
    std::string m_folder;    // the final file's folder
    std::string m_finalPath; // UTF-8
    std::string m_tempPath;  // UTF-8; empty when none exists
    Stage m_stage = Stage::needsPlan;
    std::vector<PlannedRange> m_restoredRanges; // a restored plan, for the finishing task
    std::shared_ptr<TaskCompletion> m_preparation;
    int m_preparationError = 0;
    bool m_preparing = false; // a preparation task is queued or running and has not yet ended
    std::shared_ptr<TaskCompletion> m_urlRefresh;
    std::uint32_t m_rangesTotal = 0;
    std::uint32_t m_rangesDone = 0; // restored done and completed by channels
    std::uint64_t m_bytesDownloaded = 0;
    bool m_prepared = false;
    bool m_cancelled = false;
    bool m_cancelledByChannel = false;
    bool m_finished = false; // no further channel events are acted on
    bool m_subscribed = false;

    CTransferProgressTracker m_tracker;
};

} // namespace fv_transfers
