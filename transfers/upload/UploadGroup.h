#pragma once

#include "db/FilesDbInfo.h"
#include "db/GroupsDbInfo.h"
#include "framework/FileProgressSenderHandle.h"
#include "framework/GroupBase.h"
#include "framework/GroupManagerBase.h"
#include "records/TransferRecords.h"
#include "upload/UploadFile.h"
#include "upload/UploadFileFactory.h"
#include "upload/UploadFileOwner.h"
#include "upload/UploadManager.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fv_transfers {

class IUploadEngineCallback;

// One upload group: the files of one bucket. It keeps an entry per file, makes the upload files
// (CUploadFileFactory), hands them to the engine and turns their events into the subscriber's
// file and group events and the service's progress updates; its row is in the database.
//
// The caller says when no more files will come (markQueue): only a marked group completes. Until
// then a group whose files are all done stays TRANSFERRING at 100 %.
//
// Threads: startFiles and removeFile run on the engine thread; file events come from channel
// threads, the disk watcher and the tasks executor; addFiles, removeFiles, marking, pause,
// resume, cancel and reads come from the caller's. Every operation takes the group lock (group,
// then file); none of them blocks on the engine or on a file's task.
class CUploadGroup : public CGroupBase<CUploadManager::ICallback, IUploadFile, UploadFileDesc>,
                     public IUploadFileOwner {
public:
    using Base = CGroupBase<CUploadManager::ICallback, IUploadFile, UploadFileDesc>;

    struct TransferGroupInitParams : public GroupInitParams {
        std::uint64_t minMultipartSize = 0;
        IUploadEngineCallback* engineCallback = nullptr;
        bool verify = false;
        CUploadManager::ICallback* callback = nullptr;
        // Given to every file the group makes; without an executor, the group's.
        UploadFileEnvironment fileEnvironment;
        // Null: the process's.
        std::shared_ptr<CGroupsDbInfo> groupsTable;
        // A restored group whose queue was marked: it knows at once, and completes when its
        // engine marks it again (CGroupManager posts that once the group is listed).
        bool marked = false;
        // Null: the process's sender.
        std::shared_ptr<CFileProgressSender> progressSender;
    };

    // Throws std::runtime_error when a new group's row cannot be stored.
    explicit CUploadGroup(const TransferGroupInitParams& params);
    ~CUploadGroup() override;

    // The error code of a dt_error, as file events carry it: 9 → 1, 10 → 2, 13 → 3, 14 → 4,
    // 12 → 5, anything else 0.
    static std::int32_t errorCodeOf(int dtError);

    // Makes a file and a queued entry for each of `files`. A file the group cannot take (the
    // group is marked or cancelled, its uid is already in the group or twice in `files`, its
    // size cannot be read: code 1) gets one ERRORED file event and no entry.
    void addFiles(const std::vector<UploadFileDesc>& files);
    // Dequeue, by uid: a file not yet started leaves at once (cancelled, rows removed); a
    // running one is cancelled through the engine and leaves in removeFile.
    void removeFiles(const std::vector<UploadFileDesc>& files);
    // Engine thread: the engine holds no channel of `file` any more (after cancelFiles). A
    // dequeued or cancelled file's rows are removed and its entry erased; a file to be
    // re-created is replaced by a new one, queued again.
    void removeFile(const std::shared_ptr<IUploadFile>& file);
    // Engine thread: the next file whose channels the engine may start, or null. Never blocks:
    // a file still being prepared stays queued and the next is tried; one whose preparation
    // failed is ERRORED. Null while the group is paused, errored, cancelled or has nothing
    // queued.
    std::shared_ptr<IUploadFile> startFiles();

    // No more files will come: a group whose files are done completes.
    void markQueue();
    void unmarkQueue();
    bool isQueueMarked();
    // Whether the group has ended (completed after its queue was marked, or cancelled with no
    // file left), so that it may leave its manager.
    bool isFinished();
    // A copy taken under the group lock.
    void getGroupState(CUploadManager::GroupState& state);
    // Appends the files of every entry.
    void collectFiles(std::vector<std::shared_ptr<IUploadFile>>& files);
    // The file of the entry with that uid; null when there is none or it has no file.
    std::shared_ptr<IUploadFile> findFile(const std::string& fileUid);

    // ITransferGroup
    bool isPaused() override;
    void restoreFilesFromDb() override;

    // IUploadFileOwner
    std::int32_t getGroupId() const override { return Base::getGroupId(); }
    void getBucketId(std::string& bucketId) const override { Base::getBucketId(bucketId); }
    void getBucketToken(std::string& token) const override { Base::getBucketToken(token); }
    bool verifyUploads() const override { return m_verify; }
    IUploadEngineCallback* getUploadEngine() override { return m_engine; }
    void notifyFileState(const std::string& fileUid, std::int64_t delta, CTransferManagerBase::FileState& state,
                         bool reinitOnError) override;
    void restartFile(const std::string& fileUid) override;

protected:
    void resumeFiles() override;
    void setState(std::int32_t stateCode, std::int32_t value) override;
    bool notifyGroupStateChanged(bool force, std::int32_t reason) override;
    void pauseFiles() override;
    void cancelFiles() override;
    ITransferEngineCallback* getEngineCallback() const override;
    void saveRetryCounter() override;
    bool canComplete() override { return m_state.marked; }
    void removeFromDb() override;
    const char* resumeGroupAsyncLogName() const override
    {
        return "fv_transfers::CGroupBase<class fv_transfers::CUploadManager::ICallback,class "
               "fv_transfers::IUploadFile,struct fv_transfers::UploadFileDesc>::resumeGroupAsync";
    }

private:
    // A new entry for `desc`: queued with its file, or ERRORED.
    void addNewFile(const UploadFileDesc& desc);
    // One ERRORED file event for a file that got no entry.
    void refuseFile(const UploadFileDesc& desc, std::int32_t errorCode);
    // Gives the entry a new file (queued); 0, or the dt_error that left it without one.
    int recreateFile(FileEntry& entry);
    void markFileErrored(FileEntry& entry, int error);
    // A file with nothing left to send (restored with every part sent).
    void completeEntry(FileEntry& entry);
    // A file to be re-created gets its new file, queued again.
    void recreateEntryFile(FileEntry& entry);
    // Takes a file out for good: its pending work, its upload at the service and its rows.
    void dropFile(const std::shared_ptr<IUploadFile>& file);
    // Erases the entry and its progress.
    typename FileList::iterator forgetEntry(typename FileList::iterator entry);
    void resetErroredEntries(std::vector<FilePtr>& toResume);
    bool isFinishedLocked() const;
    // One stored file, with the file made from it (null when it could not be).
    void addRestoredEntry(const CFilesDbInfo::FileInfo& row, const FilePtr& file, std::vector<FilePtr>& unused);
    // A marked group that completed, or a cancelled one with nothing left, is handed to the
    // engine to leave the manager.
    void offerToLeave();

    const std::uint64_t m_minMultipartSize;
    IUploadEngineCallback* const m_engine;
    const bool m_verify;
    const UploadFileEnvironment m_fileEnvironment;
    const std::shared_ptr<CGroupsDbInfo> m_groupsTable;
    const CFileProgressSenderHandle m_progress;

    // Under the group lock.
    CUploadManager::GroupState m_state;
    // Files handed out by startFiles whose channels the engine holds until removeFile.
    std::set<const IUploadFile*> m_handedOut;
    bool m_trackerStarted = false;
    bool m_leaveOffered = false;
};

} // namespace fv_transfers
