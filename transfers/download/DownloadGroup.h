#pragma once

#include "db/DbDownloadGroupInfoAggregator.h"
#include "download/DownloadFile.h"
#include "download/DownloadFileOwner.h"
#include "download/DownloadManager.h"
#include "framework/GroupBase.h"
#include "framework/GroupManagerBase.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fv_transfers {

class CFileUidRegistry;
class IDownloadEngineCallback;

// One download group: the files of one bucket that go to one local folder. It keeps an entry per
// file, makes the download files, hands them to the engine and turns their events into the
// subscriber's file and group events; its row (with the group-info map) is in the database.
//
// A file uid is downloaded by one group at a time, and two files of a group never share a final
// path: such a file is refused (ERRORED) before anything is stored for it.
//
// Threads: addFiles, getNextFile and removeFile run on the engine thread; file events come from
// channel threads and the tasks executor; pause, resume, cancel, dequeue and reads from the
// caller's. Every operation takes the group lock (group, then file); none of them blocks on the
// engine or on a file's task.
class CDownloadGroup
    : public CGroupBase<CDownloadManager::ICallback, CDownloadFile, CDownloadManager::FileDownloadDetails>,
      public IDownloadFileOwner {
public:
    using Base = CGroupBase<CDownloadManager::ICallback, CDownloadFile, CDownloadManager::FileDownloadDetails>;
    using GroupInfoMap = CDownloadManager::GroupInfoMap;

    struct TransferGroupInitParams : public GroupInitParams {
        std::wstring downloadPath; // the destination as given: a "file:" URL of an existing local folder
        std::uint64_t minMultipartSize = 0;
        IDownloadEngineCallback* engineCallback = nullptr;
        std::shared_ptr<GroupInfoMap> groupInfo; // may be null
        CDownloadManager::ICallback* callback = nullptr;
        // Set by the group manager; null: uids are not checked against other groups.
        std::shared_ptr<CFileUidRegistry> fileUids;
        // Given to every file the group makes.
        DownloadFileEnvironment fileEnvironment;
        // Null: the process's database.
        std::shared_ptr<CDbDownloadGroupInfoAggregator> groupsTable;
    };

    // Throws std::invalid_argument when the destination is not an existing local folder, and
    // std::runtime_error when a new group's row cannot be stored.
    explicit CDownloadGroup(const TransferGroupInitParams& params);
    ~CDownloadGroup() override;

    // The download kind of a dt_error, as file events carry it: 9 → 1, 10 → 2, 12 → 5, 13 → 3,
    // 14 → 4, anything else 0.
    static std::int32_t errorKindOf(int error);

    // Engine thread: makes a file and a queued entry for each of `files` and reports the group.
    // A uid already queued here is skipped; a uid another group holds, a path that cannot be
    // placed under the folder, or a final path another file of the group has gets an ERRORED
    // entry without a file (nothing stored). The files' preparation starts at once on the
    // executor.
    void addFiles(const std::vector<FileDownloadDetails>& files);
    // Engine thread: the next file whose channels the engine may start, or null. Never blocks:
    // a file still being prepared is skipped and stays queued (its task wakes the engine when
    // it is ready); a file found already on disk is marked COMPLETED and one whose preparation
    // failed ERRORED, and the next entry is tried. Null while the group is paused, errored,
    // cancelled or has nothing queued. The returned file's channels are ready (getChannels).
    std::shared_ptr<CDownloadFile> getNextFile();
    // Engine thread: the engine no longer holds any channel of `file` (after cancelFiles, or
    // once it has finished with the file). A dequeued or cancelled file's temporary file and rows
    // are removed and its entry erased; a file to be re-created (unusable after its download) is
    // replaced by a new one, queued when the group was resumed meanwhile, else ERRORED until the
    // next resume. A file still in the group otherwise is left as it is.
    void removeFile(const std::shared_ptr<CDownloadFile>& file);
    // Dequeue: files not yet handed to the engine leave at once (task cancelled, temporary file
    // and rows removed); the others are cancelled through the engine and leave in removeFile.
    void removeFiles(const std::vector<std::string>& fileUids);
    // A copy taken under the group lock.
    void getGroupState(CDownloadManager::GroupState& state);
    // The local folder files are placed under.
    const std::wstring& getDownloadPath() const { return m_downloadPath; }
    std::shared_ptr<GroupInfoMap> getGroupInfo() const { return m_groupInfo; }

    // ITransferGroup
    bool isPaused() override;
    void restoreFilesFromDb() override;

    // IDownloadFileOwner
    std::int32_t getGroupId() const override { return Base::getGroupId(); }
    void getBucketId(std::string& bucketId) const override { Base::getBucketId(bucketId); }
    void getBucketToken(std::string& token) const override { Base::getBucketToken(token); }
    bool isCancelled() override { return Base::isCancelled(); }
    IDownloadEngineCallback* getDownloadEngine() override { return m_engine; }
    void notifyFileStateChanged(const FileDownloadDetails& details, std::int64_t delta,
                                const CTransferManagerBase::FileState& snapshot, bool discard) override;

protected:
    void resumeFiles() override;
    void setState(std::int32_t stateCode, std::int32_t value) override;
    bool notifyGroupStateChanged(bool force, std::int32_t reason) override;
    void pauseFiles() override;
    void cancelFiles() override;
    ITransferEngineCallback* getEngineCallback() const override;
    void saveRetryCounter() override;
    bool canComplete() override { return true; }
    void removeFromDb() override;
    const char* resumeGroupAsyncLogName() const override
    {
        return "fv_transfers::CGroupBase<class fv_transfers::CDownloadManager::ICallback,class "
               "fv_transfers::CDownloadFile,struct fv_transfers::FileDownloadDetails>::resumeGroupAsync";
    }

private:
    std::shared_ptr<CDownloadFile> makeFile() const;
    // A new entry for `details`: queued with its file, or ERRORED without one.
    void addNewFile(const FileDownloadDetails& details);
    // Gives the entry a new file (queued); 0, or the dt_error that left it without one.
    int recreateFile(FileEntry& entry);
    // Whether another file of the group has that final path.
    bool finalPathTaken(const std::string& finalPath, const FileEntry* except);
    void markFileErrored(FileEntry& entry, int error);
    void markFileCompleted(FileEntry& entry);
    // A file to be re-created gets its new file: queued when the group was resumed meanwhile.
    void recreateEntryFile(FileEntry& entry);
    // Takes a file out for good: its task, its temporary file and its rows. Without the group
    // lock for a file whose channels have run (their events hold its delegates' locks).
    void dropFile(const std::shared_ptr<CDownloadFile>& file);
    // Erases the entry, its progress and, when no other entry has it, the uid's claim.
    typename FileList::iterator forgetEntry(typename FileList::iterator entry);
    void resetErroredEntries(std::vector<FilePtr>& toResume);

    const std::uint64_t m_minMultipartSize;
    const std::wstring m_givenDownloadPath; // stored in the row
    std::wstring m_downloadPath;            // the resolved local folder
    IDownloadEngineCallback* const m_engine;
    const std::shared_ptr<GroupInfoMap> m_groupInfo;
    const std::shared_ptr<CFileUidRegistry> m_fileUids;
    const DownloadFileEnvironment m_fileEnvironment;
    const std::shared_ptr<CDbDownloadGroupInfoAggregator> m_groupsTable;

    // Under the group lock.
    CDownloadManager::GroupState m_state;
    // Files to be re-created whose group was resumed before the engine let them go.
    std::set<std::string> m_recreateOnRemoval;
    // Files handed out by getNextFile whose channels the engine holds until removeFile.
    std::set<const CDownloadFile*> m_handedOut;
    bool m_trackerStarted = false;
};

} // namespace fv_transfers
