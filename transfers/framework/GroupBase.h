#pragma once

#include "core/log/LogPrefix.h"
#include "framework/GroupManagerBase.h"
#include "framework/TransferEngineCallback.h"
#include "framework/TransferGroup.h"
#include "framework/TransferManagerBase.h"
#include "framework/TransferProgressTracker.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fv_transfers {

// What upload and download groups share: the group lock, the file entries, progress, the state
// decisions (completed once, errored, retried) and the automatic retries through the restarter.
// A concrete group supplies the pure operations below.
//
// Locking: pause, requestResume, cancel, resetFileEntries, resumeGroupAsync, setCallback,
// setRetryCounterLocked and isCancelled take the group lock themselves; every protected
// operation runs with it held by the caller, and so does every pure operation except
// getEngineCallback (called without it, so it must answer a value fixed at construction). The
// lock is not recursive. Inside it the restarter's lock and the tracker's lock may be taken.
template <typename ICallback, typename File, typename Details> class CGroupBase : public ITransferGroup {
public:
    using FilePtr = std::shared_ptr<File>;
    using GroupState = CTransferManagerBase::GroupState;
    using Clock = std::chrono::steady_clock;
    using ClockFunction = std::function<Clock::time_point()>;

    // Added to the group, not yet handed to the engine; follows the file state codes.
    static constexpr std::int32_t kFileQueued = 4;
    // A re-evaluation not caused by one file's event (files added, removed, restored, queried).
    static constexpr std::int32_t kReasonGeneral = 4;
    static constexpr std::uint32_t kMaxAutomaticRetries = 10;
    static constexpr std::chrono::milliseconds kMinEventInterval{250};
    static constexpr std::uint64_t kSizeUnknown = ~std::uint64_t(0);

    struct FileEntry {
        std::string fileUid;
        FilePtr file; // may be empty
        std::uint64_t transferredBytes = 0;
        std::uint64_t totalBytes = 0; // kSizeUnknown: still to be determined
        std::int32_t state = kFileQueued;
        Details details;
        bool pending = true;         // waits to be started
        bool enabled = true;         // false once removed or cancelled
        bool reinitPending = false;  // an errored file is being taken off the engine to be re-created
        bool restartPending = false; // its channels are being taken off the engine before it runs again
    };
    using FileList = std::list<FileEntry>;

    CGroupBase(const GroupInitParams& params, ICallback* callback, ClockFunction now = Clock::now);
    ~CGroupBase() override;

    void pause() override;
    void requestResume(bool automatic) override;
    // Marks the group cancelled (it never reports COMPLETED afterwards), drops its restart,
    // lets the concrete group cancel its files and reports the cancelled state.
    void cancel() override;
    void restoreFilesFromDb() override {}
    void resetFileEntries() override;
    const std::string& getBucketIdRef() const override { return m_bucketId; }
    void getBucketId(std::string& bucketId) const override { bucketId = m_bucketId; }
    void getBucketToken(std::string& token) const override { token = m_bucketToken; }
    std::int32_t getGroupId() const override { return m_groupId; }
    void resumeGroupAsync(bool automatic) override;
    void setRetryCounterLocked(std::uint32_t value, bool save) override;

    // Null unsubscribes.
    void setCallback(ICallback* callback);
    bool isCancelled() const;

    // The error code a file event carries for a dt_error: 9 → 1, 10 → 2, 13 → 3, 14 → 4, 12 → 5,
    // anything else 0.
    static std::int32_t fileErrorCodeOf(int error);

protected:
    // Restarts the group's files (a resume).
    virtual void resumeFiles() = 0;
    // Stores the state code and `value` as the record's error code (0 clears it), persists the
    // paused flag and tells the callback.
    virtual void setState(std::int32_t stateCode, std::int32_t value) = 0;
    // fillGroupState on the group's own record, then the callback's group event when it says so.
    virtual bool notifyGroupStateChanged(bool force, std::int32_t reason) = 0;
    virtual void pauseFiles() = 0;
    // The files' part of a cancel: hand them to the engine to be stopped, their temps and rows
    // removed. Runs under the group lock, so it posts and never waits for the engine.
    virtual void cancelFiles() = 0;
    // May be null: requestResume then does nothing.
    virtual ITransferEngineCallback* getEngineCallback() const = 0;
    virtual void saveRetryCounter() = 0;
    // Whether the group may be reported COMPLETED (upload: once its queue is marked).
    virtual bool canComplete() = 0;
    virtual void removeFromDb() = 0;
    // The qualified name the resume's error line carries.
    virtual const char* resumeGroupAsyncLogName() const { return "fv_transfers::CGroupBase::resumeGroupAsync"; }

    // Fills the snapshot the callback receives and decides completion and errors. `reason` is
    // the state of the file whose event caused the call, or kReasonGeneral. True when the
    // snapshot is to be reported.
    bool fillGroupState(GroupState& state, bool force, std::int32_t reason);
    // Sets the state's `empty`: every enabled entry done, none queued, none disabled.
    void checkIfEmpty(GroupState& state);
    // An automatic retry through the restarter (true), or, once the retries are used up,
    // PAUSED with the last file error kept (false).
    bool onGroupError();
    void unregisterFromRestarter();
    void setRetryCounter(std::uint32_t value, bool save);
    // Remembers a file's error for the group's record.
    void noteFileError(std::int32_t errorCode) { m_lastFileError = errorCode; }
    // Lets file-driven events through at least kMinEventInterval apart.
    bool checkLastEventTime();
    // The next file-driven event passes the gate at once.
    void resetLastEventTime() { m_lastEventTimeSet = false; }

    FileEntry& makeFileEntry(const std::string& fileUid, const Details& details, std::uint64_t totalBytes);
    typename FileList::iterator eraseFileEntry(typename FileList::iterator entry);
    typename FileList::iterator findFileEntry(const std::string& fileUid);
    // The enabled entry of the uid that has a file: the one its file's events are about.
    typename FileList::iterator findActiveFileEntry(const std::string& fileUid);
    typename FileList::iterator findFileEntryByFile(const File* file);
    FilePtr getFileByUid(const std::string& fileUid) const;
    typename FileList::iterator findQueuedFileEntry();
    typename FileList::iterator findDisabledFileEntry();
    // Files of entries that are not pending, are enabled and have a file.
    void collectActiveFiles(std::vector<FilePtr>& files) const;
    // The same, only those transferring.
    void collectTransferringFiles(std::vector<FilePtr>& files) const;
    void collectAllFiles(std::vector<FilePtr>& files) const;
    void collectFileDetailsByState(std::vector<Details>& details, std::int32_t state) const;
    // An event of the entry's file in `state`, with the entry's figures.
    CTransferManagerBase::FileState fileStateOf(const FileEntry& entry, std::int32_t state) const;
    void sendFileEvent(const CTransferManagerBase::FileState& state);
    // The part of setState both kinds share: the record's state and error code, and its paused
    // flag, stored in `table` (with updatePaused) when it changes.
    template <typename Table>
    void applyState(GroupState& record, Table& table, std::int32_t stateCode, std::int32_t value);
    // Called after any change of an entry's size outside makeFileEntry and eraseFileEntry.
    void invalidateTotal() { m_cachedTotal = 0; }

    std::mutex& groupLock() const { return m_groupLock; }
    ICallback* getCallback() const { return m_callback; }
    std::uint32_t getRetryCounter() const { return m_retryCounter; }
    bool isCancelledLocked() const { return m_cancelled; }
    const std::string& getBucketType() const { return m_bucketType; }
    std::uint64_t getTokenExpiration() const { return m_tokenExpiration; }
    const std::shared_ptr<CTrasfersAsyncTasksExecutor>& getTasksExecutor() const { return m_tasksExecutor; }
    const CLogPrefix& logPrefix() const { return m_logPrefix; }
    std::string logText() const { return m_logPrefix.toString(); }

    FileList m_files;
    CTransferProgressTracker m_tracker;

private:
    bool allEnabledDone() const;
    bool hasQueuedEntry() const;
    bool allFinished() const;
    void decideFinishedGroup(GroupState& state, bool allDone);

    const std::string m_bucketId;
    const std::int32_t m_groupId;
    const std::string m_bucketToken;
    const std::string m_bucketType;
    const std::uint64_t m_tokenExpiration;
    const std::int64_t m_creationTimeMs;
    const CLogPrefix m_logPrefix;
    const std::shared_ptr<CTrasfersAsyncTasksExecutor> m_tasksExecutor;
    const ClockFunction m_now;

    mutable std::mutex m_groupLock; // guards everything below and the protected members
    std::uint32_t m_retryCounter = 0;
    bool m_cancelled = false; // the one flag: a cancelled group never reports COMPLETED
    bool m_completionReported = false;
    std::int32_t m_lastFileError = 0;
    ICallback* m_callback;
    std::uint64_t m_cachedTotal = 0; // 0: recompute
    Clock::time_point m_lastEventTime{};
    bool m_lastEventTimeSet = false;
};

} // namespace fv_transfers

#include "framework/GroupBase.inl"
