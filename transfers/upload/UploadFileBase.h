#pragma once

#include "core/rest/RestTypes.h"
#include "core/rest/TransferRestRecords.h"
#include "core/watch/FileSystemEvent.h"
#include "db/ChannelsDbInfo.h"
#include "db/FilesDbInfo.h"
#include "framework/TransferFileBase.h"
#include "framework/TransferManagerBase.h"
#include "framework/TransferProgressTracker.h"
#include "framework/TrasfersAsyncTasksExecutor.h"
#include "upload/UploadDetailsSource.h"
#include "upload/UploadFile.h"
#include "upload/UploadFileFactory.h"
#include "upload/UploadPlan.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

namespace fv_transfers {

class CFileWatcher;
class IUploadEngineCallback;
class IUploadFileOwner;

// One file of an upload group: its plan of parts, the URLs the service gave for them, its
// channels and its end at the service. The kinds (single-part, multipart) differ only in how the
// upload is opened, completed and abandoned at the service.
//
// Every REST call and digest runs on the tasks executor: the engine asks prepareUpload, gets
// kNotReady while the preparation runs, and is woken when it ended. A plan is stored (rows and
// upload id in one transaction) before its first byte is sent, so a restart resumes the parts
// still unsent when the file on disk is the one the plan was made for, and starts over otherwise.
class CUploadFileBase : public CTransferFileBase,
                        public IUploadFile,
                        public CTrasfersAsyncTasksExecutor::IAsyncTask,
                        public IUploadDetailsSource,
                        public std::enable_shared_from_this<CUploadFileBase> {
public:
    // The error codes of the file's ERRORED events.
    enum ErrorCode : std::int32_t {
        errorLocalFile = 1,
        errorChanged = 2,
        errorConnect = 3,
        errorTransfer = 4,
        errorComplete = 5,
    };

    ~CUploadFileBase() override;

    // A new file: its row stored (inserted only when known to be absent) with its size and time.
    void initializeNew(const UploadFileDesc& desc, IUploadFileOwner* owner, std::uint64_t fileSize);
    // A stored file, checked against the disk when it is prepared.
    void initializeRestored(const CFilesDbInfo::FileInfo& row, const std::vector<CChannelsDbInfo::ChannelInfo>& rows,
                            IUploadFileOwner* owner);

    // IUploadFile
    bool needsInitialization() override;
    int prepareUpload() override;
    void getChannels(std::vector<std::shared_ptr<ITransferChannel>>& list) override;
    void resetErroredFlag() override;
    void cancel() override;
    void releaseResources() override;
    bool removeFromDb() override;
    void getFileDesc(UploadFileDesc& desc) override;
    std::uint64_t getTotalSize() override;
    void getFileState(CTransferManagerBase::FileState& state) override;

    // ITransferFile
    void getFileUid(std::string& uid) override;
    void getBucketId(std::string& bucketId) override;
    int getGroupId() override;

    // IUploadDetailsSource: the part's URL, refreshed first when it expired or was refused.
    int getUploadDetails(std::string& url, RestHeaderList& headers, std::vector<unsigned char>& md5Bytes) override;
    void onUrlRefused(const std::string& url) override;

    // IAsyncTask: the preparation.
    int exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>& params, const CStopToken& stop) override;

    // The upload id of a multipart upload; empty otherwise or before one was opened.
    std::string getUploadId();

protected:
    // One part with what the service gave for it.
    struct PartState {
        UploadPart part;
        std::string url;
        RestHeaderList headers;
        std::int64_t urlExpires = CChannelsDbInfo::kUnknownUrlExpiry; // wall-clock seconds
        std::string md5Hex;                                           // empty: the channel digests
        bool done = false;
        bool refused = false; // the storage answered 403 to this URL
    };
    // An upload opened at the service: its id (multipart) and the parts with their URLs.
    struct OpenedUpload {
        std::string uploadId;
        std::vector<PartState> parts;
    };
    // What the REST calls of one file need, copied so a call holds no lock.
    struct CallContext {
        FileCallParams ids;
        std::wstring localPath;
        std::uint64_t fileSize = 0;
        bool verify = false;
    };

    CUploadFileBase(bool multipart, std::uint64_t minMultipartSize, const UploadFileEnvironment& environment);

    // Opens the upload of `upload.parts` (planned) at the service, filling URLs and the id.
    // 0, 9 (file unreadable), 11 (file-status exception), 12 (refused) or another dt_error.
    virtual int openUpload(const CallContext& context, OpenedUpload& upload, const CStopToken& stop) = 0;
    // Ends the upload at the service once every part was sent; 0 or a dt_error.
    virtual int completeUpload(const CallContext& context, const std::string& uploadId, std::uint32_t parts) = 0;
    // Tells the service the upload is abandoned; best effort, on the executor.
    virtual void abandonUpload(const CallContext& context, const std::string& uploadId) = 0;
    // Not virtual: channel events may still arrive while the base destructor stops the channels.
    bool isMultipart() const { return m_multipart; }

    // Runs `call` once more when it failed, unless it failed with a code that repeats.
    static int withOneRetry(const std::function<int()>& call, int noRetryCode = -1);
    // The service's answer to the upload details of the file: whether it refuses the file with
    // the file-status exception (`refused`), 0 or the call's error.
    static int probeFileStatus(const CallContext& context, bool& refused);
    // Aborts a multipart upload, best effort.
    static void abortMultipart(const CallContext& context, const std::string& uploadId);
    std::string logPrefix() const;

private:
    class CallTask;
    enum class Stage {
        needsCheck,    // restored: the plan must be checked against the disk
        needsPlan,     // a fresh plan and upload are needed
        needsChannels, // the upload was opened again: every part is sent with its new URL
        ready,         // channels built for the parts still to send
        done,          // the service has the file
    };
    using Lock = std::unique_lock<std::mutex>;

    // Under fileLock.
    void postPreparation(Lock& lock);
    int runPreparation(const CStopToken& stop);
    int checkRestored(const CStopToken& stop);
    int planFromScratch(const CStopToken& stop);
    int openAndStore(std::vector<PartState> planned, const CStopToken& stop);
    bool storeParts(const OpenedUpload& upload);
    int readLocalFile(std::uint64_t& size, std::int64_t& modifiedSeconds);
    void startWatching();
    void buildChannels();
    int finishWhenAllSent();
    int refreshUrls();
    void onPreparationEnded(int result);
    void completeFile();
    void failFile(std::int32_t errorCode, bool reinitOnError);
    void onFileStatusException();
    void abandonInBackground(const std::string& uploadId);
    CallContext callContext();
    void onChannelState(const void* sender, ITransferChannel::StateEventData& data);
    void onChannelProgress(const void* sender, Poco::Int64& delta);
    void onFileChanged(const void* sender, files_watch::FileSystemEvent& event);
    int partOfSender(const void* sender);
    int partOfUrl(const std::string& url) const;
    bool urlExpired(const PartState& part) const;
    CTransferManagerBase::FileState snapshotLocked(std::int32_t state, std::int32_t errorCode);
    void notifyOwner(std::int64_t delta, CTransferManagerBase::FileState snapshot, bool reinitOnError);
    std::unique_ptr<CFileWatcher> takeWatcher();
    // Runs `call` with the owner unless the file was released; false when it was. Never under
    // fileLock. releaseResources waits for the calls in progress, so none reaches a group that
    // has gone.
    bool withOwner(const std::function<void(IUploadFileOwner&)>& call);
    // Takes the group and what never changes in it; before the file is shared.
    void adopt(IUploadFileOwner* owner);

    const bool m_multipart;
    const std::weak_ptr<CTrasfersAsyncTasksExecutor> m_executor;
    const std::uint64_t m_minMultipartSize;
    const UploadFileEnvironment m_environment; // without its executor
    const std::chrono::milliseconds m_detailsWait;
    std::shared_mutex m_ownerGate; // held shared by every call into the owner
    // Set by adopt, before the file is shared, and never changed. The engine outlives its files.
    std::string m_bucketId;
    std::string m_bucketToken;
    bool m_verify = false;
    IUploadEngineCallback* m_engine = nullptr;

    // Under fileLock.
    UploadFileDesc m_desc;
    std::wstring m_localPath;
    IUploadFileOwner* m_owner = nullptr; // under m_ownerGate as well; called through withOwner
    std::int32_t m_groupId = 0;
    std::uint64_t m_fileSize = 0;
    std::int64_t m_lastModified = 0; // seconds
    Stage m_stage = Stage::needsPlan;
    CFilesDbInfo::FileInfo m_restoredRow;
    std::vector<CChannelsDbInfo::ChannelInfo> m_restoredChannels;
    bool m_fromScratch = false; // a changed file is planned again at its next preparation
    std::string m_uploadId;
    std::vector<PartState> m_parts;
    std::map<std::string, int> m_partOfUrl;                        // every URL handed out, to its part
    std::map<const void*, int> m_partOfChannel;                    // the channels' base addresses
    std::vector<std::shared_ptr<ITransferChannel>> m_partChannels; // by part; null when done
    std::vector<unsigned> m_asks;                                  // getUploadDetails per part since its URL
    bool m_refreshedOnRetry = false;
    std::shared_ptr<TaskCompletion> m_preparation;
    // Set by the preparation's completion, which runs before the flight reads as finished: the
    // engine it wakes must find the result.
    bool m_preparationEnded = false;
    int m_preparationResult = 0;
    std::shared_ptr<TaskCompletion> m_refresh;
    std::shared_ptr<CallTask> m_refreshTask;
    std::uint64_t m_bytesSent = 0;
    bool m_cancelled = false;
    bool m_finished = false; // events of the channels are no longer acted on
    bool m_discardEvents = false;
    bool m_changedOnDisk = false;
    bool m_fileStatusLogged = false;
    std::unique_ptr<CFileWatcher> m_watcher;

    CTransferProgressTracker m_tracker;
};

} // namespace fv_transfers
